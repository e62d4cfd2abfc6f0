# cmake -DPAGES="page;page" -P check_man_pages.cmake
#
# Each page must render: with groff at hand, through its man macros with every
# warning on and none given; without it, the file must at least be a roff
# page (a .TH header and sections).
find_program(GROFF groff)
foreach(page IN LISTS PAGES)
  if(NOT EXISTS ${page})
    message(FATAL_ERROR "${page} was not made")
  endif()
  file(READ ${page} text)
  if(NOT text MATCHES "^\\.TH [A-Za-z]+ [0-9]" OR NOT text MATCHES "\n\\.SH NAME\n")
    message(FATAL_ERROR "${page} is not a manual page: no .TH header or NAME section")
  endif()
  if(GROFF)
    execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z ${page}
                    RESULT_VARIABLE status ERROR_VARIABLE warnings)
    if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
      message(FATAL_ERROR "groff cannot render ${page} cleanly (${status}):\n${warnings}")
    endif()
  endif()
endforeach()
