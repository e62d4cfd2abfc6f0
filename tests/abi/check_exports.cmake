# Fails when the library exports anything but the C ABI (the C++ API is the
# header alone), or lacks one of the C ABI's names.
execute_process(COMMAND nm -D --defined-only -C ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
foreach(name IntegracaoLumirex Initialize Finalize LumirexVariantInit LumirexVariantClear
        LumirexVariantSetString LumirexArrayCreate LumirexSetMessageHandler LumirexSetBaseDir
        LumirexSetConnectionString LumirexSetCaFile LumirexSetDecimalSeparator LumirexVersion
        LumirexLastCall LumirexSetOutbox LumirexSetOutboxLimit LumirexOutboxSend LumirexOutboxSendTo
        LumirexOutboxCount LumirexGetBaseDir LumirexGetConnectionString LumirexGetCaFile
        LumirexGetDecimalSeparator LumirexLog LumirexLogFilePath LumirexSetHostEncoding)
  if(NOT symbols MATCHES " ${name}\n")
    message(FATAL_ERROR "the library does not export ${name}")
  endif()
endforeach()
string(REPLACE "\n" ";" lines "${symbols}")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "^[0-9a-f]* [A-Za-z] " "" name "${line}")
  if(name MATCHES "pugi|soci|curl|httplib|nlohmann|CLI::")
    message(FATAL_ERROR "the library leaks a dependency's symbol: ${name}")
  endif()
  if(NOT name MATCHES "^(IntegracaoLumirex|Initialize|Finalize|Lumirex[A-Za-z]*)$")
    message(FATAL_ERROR "unexpected export: ${name}")
  endif()
endforeach()
message(STATUS "exports are the public API only")
