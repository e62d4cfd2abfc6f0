# x86's import library for C callers: each plain name of DEF is looked up,
# decorated (Name@bytes), in the objects' symbols, and dlltool -k maps every
# decorated name back to the plain export.
#   cmake -DNM= -DDLLTOOL= -DOBJECTS=a.obj|b.obj -DDEF= -DDECORATED= -DOUTPUT= -P import_library.cmake
string(REPLACE "|" ";" objects "${OBJECTS}")
execute_process(COMMAND ${NM} --defined-only -g ${objects} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
file(STRINGS ${DEF} lines)
set(decorated "")
foreach(line IN LISTS lines)
  if(line MATCHES "^(LIBRARY|EXPORTS)")
    string(APPEND decorated "${line}\n")
  elseif(line MATCHES "^  ([A-Za-z_][A-Za-z0-9_]*)$")
    set(name ${CMAKE_MATCH_1})
    if(NOT symbols MATCHES " T _${name}(@[0-9]+)\n")
      message(FATAL_ERROR "${name} is exported but no object defines it as __stdcall")
    endif()
    string(APPEND decorated "  ${name}${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(WRITE ${DECORATED} "${decorated}")
execute_process(COMMAND ${DLLTOOL} -k -d ${DECORATED} -D lumirex.dll -l ${OUTPUT} COMMAND_ERROR_IS_FATAL ANY)
