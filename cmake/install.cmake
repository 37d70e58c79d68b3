# Installs the library, its header, a pkg-config file and a CMake package config.
include(CMakePackageConfigHelpers)

install(TARGETS FX60Link EXPORT FX60LinkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT FX60LinkTargets NAMESPACE FX60Link::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/FX60Link)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/FX60LinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/FX60LinkConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/FX60Link)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/FX60LinkConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/FX60LinkConfig.cmake ${PROJECT_BINARY_DIR}/FX60LinkConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/FX60Link)

configure_file(${PROJECT_SOURCE_DIR}/cmake/fx60link.pc.in ${PROJECT_BINARY_DIR}/fx60link.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/fx60link.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
