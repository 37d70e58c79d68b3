# The device layer: SCSI pass-through and HID on Linux, and the virtual cable to
# a simulated module.
target_sources(fx60_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/devices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/sysfs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/sg_request.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/scsi_generic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/hid_descriptor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/hidraw.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cable/connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cable/virtual_cable.cpp
)
