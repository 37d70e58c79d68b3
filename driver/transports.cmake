# The two device transports and their module protocols.
target_sources(fx60_driver PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/driver_base.cpp
  ${CMAKE_CURRENT_LIST_DIR}/storage_protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/usb_base.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hid_protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hid_base.cpp
)
