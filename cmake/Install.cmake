# Install layout:
#   bin/                      dld2vexa, kvxinfo
#   lib/                      the libraries vexabase, kvxpack, vexapack
#                             (static; shared with BUILD_SHARED_LIBS=ON)
#   include/dld2vexa/         their public headers, included by programs as
#                             <dld2vexa/kvxio.h>: only include/ is on their
#                             include path, so short names such as
#                             filename.h or gamma.h never meet a program's
#                             own headers
#   lib/cmake/dld2vexa/       the CMake package: find_package(dld2vexa)
#                             gives dld2vexa::vexabase, dld2vexa::kvxpack and
#                             dld2vexa::vexapack
#   share/man/man1/           the manual pages
#   share/doc/dld2vexa/       the licence (copyright) and the changelog
# With the prefix /usr on Debian, lib/ is lib/<multiarch>/ (GNUInstallDirs).
# The developer tools (dldgen, the DLD writer), tests and benchmarks are not
# installed.

include(CMakePackageConfigHelpers)

set(DLD2VEXA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/dld2vexa)
set(DLD2VEXA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/dld2vexa)

install(FILES ${vexabase_public_headers} ${kvxpack_public_headers} ${vexapack_public_headers}
        DESTINATION ${DLD2VEXA_INSTALL_INCLUDEDIR})

if(DLD2VEXA_PROGRAMS)
  install(TARGETS dld2vexa kvxinfo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS ${DLD2VEXA_LIBRARIES}
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

# Manual pages, compressed as Debian installs them (-n: no name or time
# stamp, so the same page always gives the same bytes).
find_program(GZIP_EXECUTABLE gzip REQUIRED)
if(DLD2VEXA_PROGRAMS)
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
endif()

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
