# Debian package of the programs, libraries, headers, CMake package and
# manual pages:  cpack -G DEB  in a build tree, or  bash scripts/package.sh
# from a fresh clone.  dpkg-shlibdeps works out the run-time dependencies
# (the C and C++ run-time libraries, zlib, libpng) from the programs.

set(DLD2VEXA_MAINTAINER "dld2vexa maintainers <dld2vexa@localhost>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dld2vexa)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${DLD2VEXA_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "converter of DLD detector frames into KVX image files")
set(CPACK_PACKAGE_DESCRIPTION
    "dld2vexa converts the frames of a gas-filled X-ray detector with delay-line\n\
readout and a histogramming memory into images of the KVX data format;\n\
kvxinfo lists, shows and pictures the images of a KVX file.  The package\n\
also holds the static libraries of the KVX data file library and of the\n\
program framework, their headers and a CMake package for find_package.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

include(CPack)
