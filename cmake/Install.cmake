# Install layout:
#   bin/                      dld2vexa, kvxinfo
#   lib/                      the static libraries vexabase, kvxpack, vexapack
#   include/dld2vexa/         their public headers, included by programs as
#                             <dld2vexa/kvxio.h>: only include/ is on their
#                             include path, so short names such as
#                             filename.h or gamma.h never meet a program's
#                             own headers
#   lib/cmake/dld2vexa/       the CMake package: find_package(dld2vexa)
#                             gives dld2vexa::vexabase, dld2vexa::kvxpack and
#                             dld2vexa::vexapack
#   share/man/man1/           the manual pages
#   share/bash-completion/completions/
#                             the programs' bash completions
#   share/doc/dld2vexa/       the licence (copyright) and the changelog
# With the prefix /usr on Debian, lib/ is lib/<multiarch>/ (GNUInstallDirs).
# The developer tools (dldgen, the DLD writer), tests and benchmarks are not
# installed.

include(CMakePackageConfigHelpers)

set(DLD2VEXA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/dld2vexa)
set(DLD2VEXA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/dld2vexa)

# The public headers of each library: the contract that programs outside this
# project build on.  Headers that only the library's own sources share
# (kvxio_internal.h, kvxio_scan.h, numio_internal.h, GetDldFrameIndex.h,
# VexaOption_internal.h) stay out, and no public header includes them.
# They are installed as plain files rather than as a header file set: a
# file set would put its own folder, include/dld2vexa, on the include path
# of every program that links the library.
set(vexabase_public_headers
  ${PROJECT_SOURCE_DIR}/vexapack/VexaError.h
  ${PROJECT_SOURCE_DIR}/kvxpack/kvxio_errors.h
  ${PROJECT_SOURCE_DIR}/kvxpack/report_sink.h)
set(kvxpack_public_headers
  ${PROJECT_SOURCE_DIR}/kvxpack/kvxio.h
  ${PROJECT_SOURCE_DIR}/kvxpack/kvxio_browse.h
  ${PROJECT_SOURCE_DIR}/kvxpack/kvxio_lock.h
  ${PROJECT_SOURCE_DIR}/kvxpack/kvxio_pixels.h
  ${PROJECT_SOURCE_DIR}/kvxpack/kvxio_repair.h
  ${PROJECT_SOURCE_DIR}/kvxpack/numio.h
  ${PROJECT_SOURCE_DIR}/kvxpack/gamma.h
  ${PROJECT_SOURCE_DIR}/kvxpack/cmpr.h
  ${PROJECT_SOURCE_DIR}/kvxpack/bslio.h
  ${PROJECT_SOURCE_DIR}/kvxpack/filename.h
  ${PROJECT_SOURCE_DIR}/kvxpack/program_start.h)
set(vexapack_public_headers
  ${PROJECT_SOURCE_DIR}/vexapack/VexaExpression.h
  ${PROJECT_SOURCE_DIR}/vexapack/VexaInput.h
  ${PROJECT_SOURCE_DIR}/vexapack/VexaOption.h
  ${PROJECT_SOURCE_DIR}/vexapack/VexaParameter.h
  ${PROJECT_SOURCE_DIR}/vexapack/GetDldFrame.h)
install(FILES ${vexabase_public_headers} ${kvxpack_public_headers} ${vexapack_public_headers}
        DESTINATION ${DLD2VEXA_INSTALL_INCLUDEDIR})

install(TARGETS dld2vexa kvxinfo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(TARGETS vexabase kvxpack vexapack
  EXPORT dld2vexaTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT dld2vexaTargets
  NAMESPACE dld2vexa::
  DESTINATION ${DLD2VEXA_INSTALL_CMAKEDIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/dld2vexaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/dld2vexaConfig.cmake
  INSTALL_DESTINATION ${DLD2VEXA_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/dld2vexaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/dld2vexaConfig.cmake
              ${PROJECT_BINARY_DIR}/dld2vexaConfigVersion.cmake
        DESTINATION ${DLD2VEXA_INSTALL_CMAKEDIR})

# Bash completions, where bash-completion looks for them by program name.
install(FILES ${PROJECT_SOURCE_DIR}/completions/dld2vexa ${PROJECT_SOURCE_DIR}/completions/kvxinfo
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Manual pages, compressed as Debian installs them (-n: no name or time
# stamp, so the same page always gives the same bytes).
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(DLD2VEXA_MAN_PAGES ${PROJECT_SOURCE_DIR}/man/dld2vexa.1 ${PROJECT_SOURCE_DIR}/man/kvxinfo.1)
set(compressed_pages)
foreach(page IN LISTS DLD2VEXA_MAN_PAGES)
  get_filename_component(name ${page} NAME)
  set(copy ${PROJECT_BINARY_DIR}/man/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${copy}
    COMMAND ${GZIP_EXECUTABLE} -9nf ${copy}
    DEPENDS ${page}
    COMMENT "Compressing manual page ${name}"
    VERBATIM)
  list(APPEND compressed_pages ${copy}.gz)
endforeach()
add_custom_target(manpages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Licence and changelog where Debian keeps them: copyright in plain text,
# the changelog compressed like the manual pages.
set(changelog ${PROJECT_BINARY_DIR}/doc/changelog)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/CHANGELOG ${changelog}
  COMMAND ${GZIP_EXECUTABLE} -9nf ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
install(FILES ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
