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
#   lib/pkgconfig/            dld2vexa-vexabase.pc, dld2vexa-kvxpack.pc,
#                             dld2vexa-vexapack.pc
#   share/man/man1/           the manual pages
#   share/bash-completion/completions/
#                             the programs' bash completions
#   share/doc/dld2vexa/       the licence (copyright) and the changelog
# With the prefix /usr on Debian, lib/ is lib/<multiarch>/ (GNUInstallDirs).
# The developer tools (dldgen, the DLD writer), tests and benchmarks are not
# installed.
#
# Two components, the two Debian packages: "programs" (the programs, their
# manual pages and shared libraries) and "development" (headers, static
# libraries or the links to the shared ones, the CMake and pkg-config files).
# A file installed without a component goes with the programs.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME programs)

include(CMakePackageConfigHelpers)

# Named in the Debian packages and their copyright file: a project address,
# not a person's.
set(DLD2VEXA_PACKAGE_CONTACT "dld2vexa developers <dld2vexa@lists.example.org>"
    CACHE STRING "Maintainer named in the Debian packages")
set(DLD2VEXA_DEV_PACKAGE libdld2vexa-dev)

set(DLD2VEXA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/dld2vexa)
set(DLD2VEXA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/dld2vexa)

install(FILES ${vexabase_public_headers} ${kvxpack_public_headers} ${vexapack_public_headers}
        DESTINATION ${DLD2VEXA_INSTALL_INCLUDEDIR} COMPONENT development)

if(DLD2VEXA_PROGRAMS)
  install(TARGETS dld2vexa kvxinfo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
endif()

install(TARGETS ${DLD2VEXA_LIBRARIES}
  EXPORT dld2vexaTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT programs
          NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT dld2vexaTargets
  NAMESPACE dld2vexa::
  DESTINATION ${DLD2VEXA_INSTALL_CMAKEDIR}
  COMPONENT development)

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/dld2vexaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/dld2vexaConfig.cmake
  INSTALL_DESTINATION ${DLD2VEXA_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/dld2vexaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/dld2vexaConfig.cmake
              ${PROJECT_BINARY_DIR}/dld2vexaConfigVersion.cmake
        DESTINATION ${DLD2VEXA_INSTALL_CMAKEDIR} COMPONENT development)

# pkg-config files, one per library, each requiring the ones below it:
#   pkg-config --cflags --libs dld2vexa-vexapack
# The prefix is the one installed to (cmake --install --prefix, DESTDIR and
# cpack included), so the file is written at install time.  A static
# library needs zlib and the maths library on the link line itself; a
# shared one brings them.
function(dld2vexa_pkgconfig library description)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "REQUIRES;LINKS_REQUIRES;LINKS_LIBS")
  set(libs "-L\${libdir} -l${library}")
  if(BUILD_SHARED_LIBS)
    set(private "")
    if(arg_LINKS_REQUIRES)
      list(JOIN arg_LINKS_REQUIRES ", " links)
      string(APPEND private "Requires.private: ${links}\n")
    endif()
    if(arg_LINKS_LIBS)
      list(JOIN arg_LINKS_LIBS " " links)
      string(APPEND private "Libs.private: ${links}\n")
    endif()
  else()
    set(private "")
    list(APPEND arg_REQUIRES ${arg_LINKS_REQUIRES})
    list(PREPEND arg_LINKS_LIBS ${libs})
    list(JOIN arg_LINKS_LIBS " " libs)
  endif()
  set(requires "")
  if(arg_REQUIRES)
    list(JOIN arg_REQUIRES ", " requires)
    set(requires "Requires: ${requires}\n")
  endif()
  set(in ${PROJECT_BINARY_DIR}/pkgconfig/dld2vexa-${library}.pc.in)
  set(out ${PROJECT_BINARY_DIR}/pkgconfig/dld2vexa-${library}.pc)
  file(WRITE ${in}
    "prefix=@prefix@\n"
    "libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
    "includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}\n"
    "\n"
    "Name: dld2vexa-${library}\n"
    "Description: ${description}\n"
    "Version: ${PROJECT_VERSION}\n"
    "${requires}${private}"
    "Cflags: -I\${includedir}\n"
    "Libs: ${libs}\n")
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${in}\" \"${out}\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
         TYPE FILE FILES \"${out}\")"
    COMPONENT development)
endfunction()

dld2vexa_pkgconfig(vexabase "status codes and KVX error values of the dld2vexa libraries")
dld2vexa_pkgconfig(kvxpack "KVX data files, numeric expressions, compression, BSL data sets"
  REQUIRES dld2vexa-vexabase LINKS_REQUIRES zlib LINKS_LIBS -lm)
dld2vexa_pkgconfig(vexapack "program framework: prompts, options, the DLD frame source"
  REQUIRES dld2vexa-kvxpack)

# Bash completions, where bash-completion looks for them by program name.
install(FILES ${PROJECT_SOURCE_DIR}/completions/dld2vexa ${PROJECT_SOURCE_DIR}/completions/kvxinfo
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT programs)

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
  install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endif()

# The licence in Debian's machine-readable copyright format, made from
# LICENSE: its copyright line, then its text as the licence paragraph
# (indented by one space, blank lines as " .").  Debian calls this MIT
# licence "Expat".
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE licence_lines)
set(copyright_holder "")
set(licence_text "")
foreach(line IN LISTS licence_lines)
  if(line MATCHES "^Copyright \\(c\\) (.+)$")
    set(copyright_holder "${CMAKE_MATCH_1}")
  elseif(copyright_holder)
    if(line STREQUAL "")
      string(APPEND licence_text "\n .")
    else()
      string(APPEND licence_text "\n ${line}")
    endif()
  endif()
endforeach()
if(NOT copyright_holder)
  message(FATAL_ERROR "LICENSE has no line 'Copyright (c) <year> <holder>'")
endif()
# The text starts after the blank line that follows the copyright line.
string(REGEX REPLACE "^\n \\." "" licence_text "${licence_text}")
set(copyright ${PROJECT_BINARY_DIR}/doc/copyright)
file(WRITE ${copyright}
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${PROJECT_NAME}\n"
  "Upstream-Contact: ${DLD2VEXA_PACKAGE_CONTACT}\n"
  "\n"
  "Files: *\n"
  "Copyright: ${copyright_holder}\n"
  "License: Expat\n"
  "\n"
  "License: Expat${licence_text}\n")

# The changelog compressed like the manual pages.
set(changelog ${PROJECT_BINARY_DIR}/doc/changelog)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/CHANGELOG ${changelog}
  COMMAND ${GZIP_EXECUTABLE} -9nf ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${copyright} ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)
# Every Debian package carries both in a folder of its own name; a plain
# install has them once, above.
install(FILES ${copyright} ${changelog}.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${DLD2VEXA_DEV_PACKAGE}
        COMPONENT development EXCLUDE_FROM_ALL)
