# The import library lumirex.lib, made from the .def by LLVM's dlltool, as
# Microsoft's `lib /def:` makes one: short import members, named after the
# DLL only, which a linker takes under /SAFESEH (GNU dlltool's are objects
# without the SafeSEH mark, and its member names carry the build folder).
# x86 (MACHINE i386): each plain name of DEF is looked up, decorated
# (Name@bytes), in the objects' symbols, and -k maps every decorated name a
# C caller refers to back to the plain export; the decorated list is written
# to DECORATED for tools that make their own import library.
#   cmake -DNM= -DDLLTOOL= -DMACHINE=i386|i386:x86-64 -DOBJECTS=a.obj|b.obj -DDEF= -DDECORATED=
#         -DOUTPUT= -P import_library.cmake
if(MACHINE STREQUAL "i386:x86-64")
  execute_process(COMMAND ${DLLTOOL} -m ${MACHINE} -d ${DEF} -D lumirex.dll -l ${OUTPUT}
                  COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()
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
execute_process(COMMAND ${DLLTOOL} -m ${MACHINE} -k -d ${DECORATED} -D lumirex.dll -l ${OUTPUT}
                COMMAND_ERROR_IS_FATAL ANY)
