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

# Lets users without root reach the module. udev reads <prefix>/lib/udev/rules.d,
# never a multiarch library folder, so the path is fixed.
install(FILES ${PROJECT_SOURCE_DIR}/resources/udev/70-fx60.rules
  DESTINATION lib/udev/rules.d)
