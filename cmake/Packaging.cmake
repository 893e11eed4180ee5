# Debian packages, split as a distribution splits a library's source:
#   dld2vexa          the programs and their manual pages
#   libdld2vexa-dev   headers, libraries, the CMake and pkg-config files
# cpack -G DEB in a build tree, or  bash scripts/package.sh  from a fresh
# clone (with the distribution's hardening flags).  dpkg-shlibdeps works out
# the programs' run-time dependencies (the C and C++ run-time libraries,
# zlib, libpng); the development package depends on what its CMake package
# and pkg-config files look for.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dld2vexa)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${DLD2VEXA_PACKAGE_CONTACT})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE dld2vexa)
# Stripped as Debian strips: see DebianStrip.cmake.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianStrip.cmake)
set(CPACK_DLD2VEXA_STRIP ${CMAKE_STRIP})

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME dld2vexa)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
    "converter of DLD detector frames into KVX image files
dld2vexa converts the frames of a gas-filled X-ray detector with delay-line
readout and a histogramming memory into images of the KVX data format;
kvxinfo lists, shows and pictures the images of a KVX file.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${DLD2VEXA_DEV_PACKAGE})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS zlib1g-dev)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "libraries for KVX image files and DLD detector frames
The libraries of dld2vexa: vexabase (status codes, KVX error values),
kvxpack (KVX data files, numeric expressions with units, compression, BSL
data sets, file names) and vexapack (the program framework: prompts,
options, the DLD frame source), with their headers, a CMake package for
find_package(dld2vexa) and pkg-config files.")

include(CPack)
