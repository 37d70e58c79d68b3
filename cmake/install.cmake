# What `cmake --install` and the Debian packages put where, in three components:
#   library      libFX60Link.so, the udev rule, the fx60 tool and fx60-sim
#   development  the header, the link-time name, pkg-config and CMake package files
#   station      the station programs with their stand-ins in one private folder
#                (lib/idvbench), which their $ORIGIN look-ups need, the card
#                tools and sample cards, the desktop entry and the icon, and the
#                library's capture dialog plugin: the one part that needs Qt, so
#                that the library's package does not
# Included from the top-level CMakeLists.txt after every target is defined.
include(CMakePackageConfigHelpers)

set(FX60_STATION_INSTALL_DIR lib/idvbench)

# The station's programs and stand-ins find libFX60Link in the library folder by
# a path relative to their own, so that an installed tree works wherever it lies
# (a scratch root, another prefix) as well as in /usr.
file(RELATIVE_PATH FX60_STATION_TO_LIBDIR /prefix/${FX60_STATION_INSTALL_DIR} /prefix/${CMAKE_INSTALL_LIBDIR})
set(FX60_STATION_RPATH "$ORIGIN" "$ORIGIN/${FX60_STATION_TO_LIBDIR}")

set(FX60_LIBRARY_PROGRAMS fx60 fx60-sim)
set(FX60_STATION_PROGRAMS idvbench-cli idcard-sim idcard)
set(FX60_STATION_LIBRARIES standin_sdtapi standin_unitogbk standin_wltrs standin_id_fprcap standin_id_fpr)
# The windows, where Qt 6 was found (top-level CMakeLists.txt): the station's
# IdvBench, and the library's capture dialog, a plugin in fx60link/ beside it.
set(FX60_LIBRARY_PLUGINS)
if(FX60_WITH_QT)
  list(APPEND FX60_STATION_PROGRAMS IdvBench)
  list(APPEND FX60_LIBRARY_PLUGINS fx60link_capture_dialog)
endif()

# Everything that is installed; ./run builds this.
add_custom_target(fx60_programs)
add_dependencies(fx60_programs FX60Link ${FX60_LIBRARY_PROGRAMS} ${FX60_LIBRARY_PLUGINS}
  ${FX60_STATION_PROGRAMS} ${FX60_STATION_LIBRARIES})

# --- library ---------------------------------------------------------------
# The header is named relative to the driver's folder; install rules here read
# paths relative to the top, so it is made absolute.
get_target_property(fx60link_header FX60Link PUBLIC_HEADER)
get_target_property(fx60link_source FX60Link SOURCE_DIR)
cmake_path(ABSOLUTE_PATH fx60link_header BASE_DIRECTORY ${fx60link_source})
set_target_properties(FX60Link PROPERTIES PUBLIC_HEADER ${fx60link_header})
install(TARGETS FX60Link EXPORT FX60LinkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(TARGETS ${FX60_LIBRARY_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
install(FILES ${PROJECT_SOURCE_DIR}/resources/udev/70-fx60.rules DESTINATION lib/udev/rules.d COMPONENT library)

# --- development -----------------------------------------------------------
install(EXPORT FX60LinkTargets NAMESPACE FX60Link::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/FX60Link COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/FX60LinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/FX60LinkConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/FX60Link)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/FX60LinkConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/FX60LinkConfig.cmake ${PROJECT_BINARY_DIR}/FX60LinkConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/FX60Link COMPONENT development)
configure_file(${PROJECT_SOURCE_DIR}/cmake/fx60link.pc.in ${PROJECT_BINARY_DIR}/fx60link.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/fx60link.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# --- station ---------------------------------------------------------------
set_target_properties(${FX60_STATION_PROGRAMS} ${FX60_STATION_LIBRARIES} PROPERTIES
  INSTALL_RPATH "${FX60_STATION_RPATH}")
install(TARGETS ${FX60_STATION_PROGRAMS} RUNTIME DESTINATION ${FX60_STATION_INSTALL_DIR} COMPONENT station)
install(TARGETS ${FX60_STATION_LIBRARIES} LIBRARY DESTINATION ${FX60_STATION_INSTALL_DIR} COMPONENT station)
# The programs are started by name through links in bin/; the station still finds
# its folder, since a program's own path is the link's target.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/bin-links)
foreach(program ${FX60_STATION_PROGRAMS})
  file(RELATIVE_PATH target /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${FX60_STATION_INSTALL_DIR}/${program})
  file(CREATE_LINK ${target} ${PROJECT_BINARY_DIR}/bin-links/${program} SYMBOLIC)
  install(FILES ${PROJECT_BINARY_DIR}/bin-links/${program} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT station)
endforeach()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/cards/ DESTINATION ${CMAKE_INSTALL_DATADIR}/idvbench/cards
  COMPONENT station FILES_MATCHING PATTERN "*.card")
foreach(plugin ${FX60_LIBRARY_PLUGINS})
  install(TARGETS ${plugin} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/fx60link COMPONENT station)
endforeach()
# The window's entry in the desktop's menus, with the program's icon at each size
# it is drawn in.
if(FX60_WITH_QT)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/idvbench.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT station)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/bitmaps/icon128-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME idvbench.png COMPONENT station)
  endforeach()
endif()

# --- the licence, in every package ------------------------------------------
foreach(component_and_package library:fx60link development:fx60link-dev station:idvbench)
  string(REPLACE ":" ";" pair ${component_and_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
    RENAME copyright COMPONENT ${component})
endforeach()
