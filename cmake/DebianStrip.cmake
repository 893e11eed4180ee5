# Run by cpack on the staged files before it packs them: strips them as
# Debian's packaging tools do.  Programs and shared libraries lose their
# symbol tables, static libraries their debugging information, and all of
# them the compiler's version notes (.comment, .note), which no one needs at
# run time and which differ from build to build.
set(notes --remove-section=.comment --remove-section=.note)
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  if(file MATCHES "\\.a$")
    set(options --strip-debug --enable-deterministic-archives ${notes})
  else()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(NOT magic STREQUAL "7f454c46")  # not an ELF file
      continue()
    endif()
    set(options --strip-unneeded ${notes})
  endif()
  execute_process(COMMAND "${CPACK_DLD2VEXA_STRIP}" ${options} "${file}"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${CPACK_DLD2VEXA_STRIP} failed on ${file}")
  endif()
endforeach()
