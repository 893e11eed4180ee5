# What the three libraries promise to the programs that link them, however
# those find them: installed (find_package, pkg-config) or built in the same
# tree (add_subdirectory, FetchContent).
set(DLD2VEXA_LIBRARIES vexabase kvxpack vexapack)

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
# Programs include them as <dld2vexa/kvxio.h>, from the install tree and
# from this build tree alike: include/dld2vexa/ of the build tree links to
# them.
set(DLD2VEXA_BUILD_INCLUDEDIR ${PROJECT_BINARY_DIR}/include)
file(MAKE_DIRECTORY ${DLD2VEXA_BUILD_INCLUDEDIR}/dld2vexa)
foreach(header IN LISTS vexabase_public_headers kvxpack_public_headers vexapack_public_headers)
  get_filename_component(name ${header} NAME)
  file(CREATE_LINK ${header} ${DLD2VEXA_BUILD_INCLUDEDIR}/dld2vexa/${name} SYMBOLIC)
endforeach()

foreach(library IN LISTS DLD2VEXA_LIBRARIES)
  # The headers use C++20 (std::span among others): a program that links a
  # library compiles as C++20 at least, whatever it sets itself.
  target_compile_features(${library} PUBLIC cxx_std_20)
  target_include_directories(${library} PUBLIC $<BUILD_INTERFACE:${DLD2VEXA_BUILD_INCLUDEDIR}>)
  set_target_properties(${library} PROPERTIES
    # A static library can go into a program's shared library as well.
    POSITION_INDEPENDENT_CODE ON
    # Shared libraries: libkvxpack.so.1 -> libkvxpack.so.1.0; the major
    # version changes with the interface.
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  # The names find_package gives, for projects that build this one inside
  # their own.
  add_library(dld2vexa::${library} ALIAS ${library})
endforeach()
