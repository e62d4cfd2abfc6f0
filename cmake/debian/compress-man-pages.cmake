# Run by CPack over the staged packages before they are built: Debian ships
# manual pages gzipped with -9n (no name or time stamp, so the bytes repeat).
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*")
list(FILTER pages INCLUDE REGEX "/share/man/([^/]+/)?man[1-9][^/]*/[^/]+\\.[1-9][^/.]*$")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
