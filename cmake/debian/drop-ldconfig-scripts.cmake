# Run by CPack after it built the packages. CPack writes postinst and postrm
# scripts that call ldconfig for any package with a library under /usr/lib;
# Debian has the loader's cache refreshed by dpkg's ldconfig trigger instead,
# which liblumirex0 activates. So its package is rebuilt without the scripts.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${deb}" NAME)
  if(NOT name MATCHES "^liblumirex0_")
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/liblumirex0-repack")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${tree}" "${deb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
