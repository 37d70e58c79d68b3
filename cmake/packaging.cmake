# Debian packages of the three install components (cmake/install.cmake):
#   fx60link      library      fx60link-dev  development      idvbench  station
# Made with `cpack -G DEB` in a build tree (see README.md); run-time dependencies
# come from dpkg-shlibdeps, the ones between our packages from the components.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VENDOR "The FX60Link and IdvBench developers")
set(CPACK_PACKAGE_CONTACT "FX60Link developers <maintainers@fx60link.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL library development station)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# libFX60Link comes from our own package, not from the system: dpkg-shlibdeps
# finds it in the build tree and leaves the dependency to the components.
get_target_property(fx60link_dir FX60Link BINARY_DIR)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${fx60link_dir})

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME fx60link)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "FX-60 fingerprint module driver, extractor and matcher
libFX60Link drives the FX-60 USB fingerprint module (SCSI pass-through or HID),
scores image quality, extracts 512-byte minutiae templates and compares them.
With the fx60 command-line tool, the fx60-sim simulated module and a udev rule
that gives users access to the module.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME fx60link-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "FX-60 fingerprint library: development files
The C header fx60link.h, the link-time library name, a pkg-config file
(fx60link) and a CMake package (find_package(FX60Link), FX60Link::FX60Link).")

set(CPACK_DEBIAN_STATION_PACKAGE_NAME idvbench)
set(CPACK_COMPONENT_STATION_DEPENDS library)
# The windows' Chinese texts need a Song style font.
set(CPACK_DEBIAN_STATION_PACKAGE_RECOMMENDS "fonts-arphic-uming | fonts-noto-cjk")
set(CPACK_COMPONENT_STATION_DESCRIPTION "Fingerprint verification station for resident identity cards
Reads a resident identity card, captures live fingers and verifies the holder
against the two fingerprint templates on the card. idvbench-cli is the station
without a window. The card-reader, text, photo and standard fingerprint
libraries it loads are included as stand-ins in /usr/lib/idvbench, with the
virtual card reader idcard-sim, the card maker idcard and sample cards.")

include(CPack)
