# The three Debian packages `./dev package` makes with CPack, one per install
# component (see Install.cmake). Only the packaging build (LUMIREX_DEB_PACKAGES,
# the "package" preset) configures them.
if(NOT LUMIREX_DEB_PACKAGES)
  return()
endif()

set(LUMIREX_DEB_COMPONENTS liblumirex0 liblumirex-dev lumirex python3-lumirex)
set(LUMIREX_DEB_REVISION 1)
set(LUMIREX_DEB_VERSION ${PROJECT_VERSION}-${LUMIREX_DEB_REVISION})
set(debian_source ${CMAKE_CURRENT_LIST_DIR}/debian)
set(debian_binary ${PROJECT_BINARY_DIR}/debian)

# The changelog's newest entry names the version being packaged; a release
# that forgets it is stopped here rather than shipped with a stale history.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${debian_source}/changelog)
file(STRINGS ${debian_source}/changelog newest LIMIT_COUNT 1)
string(REPLACE "." "\\." version_pattern "${LUMIREX_DEB_VERSION}")
if(NOT newest MATCHES "^lumirex \\(${version_pattern}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: the newest entry is not ${LUMIREX_DEB_VERSION}")
endif()
file(MAKE_DIRECTORY ${debian_binary})
# -n leaves out the name and time stamp, so every build gives the same bytes.
execute_process(COMMAND gzip -9nc ${debian_source}/changelog
                OUTPUT_FILE ${debian_binary}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
foreach(component IN LISTS LUMIREX_DEB_COMPONENTS)
  install(FILES ${debian_source}/copyright ${debian_binary}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${component} COMPONENT ${component})
endforeach()

# Hosts built against this version need at least it; the loader's cache is
# refreshed by dpkg's trigger.
file(WRITE ${debian_binary}/shlibs
     "liblumirex ${PROJECT_VERSION_MAJOR} liblumirex0 (>= ${PROJECT_VERSION})\n")
configure_file(${debian_source}/liblumirex0.triggers ${debian_binary}/triggers COPYONLY)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${LUMIREX_DEB_COMPONENTS})
set(CPACK_PACKAGE_NAME lumirex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${LUMIREX_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "lumirex developers <lumirex@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies are worked out by dpkg-shlibdeps from what each binary links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
# Manual pages are gzipped in the staged tree, whichever rule installed them.
set(CPACK_PRE_BUILD_SCRIPTS ${debian_source}/compress-man-pages.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${debian_source}/drop-ldconfig-scripts.cmake)

set(CPACK_DEBIAN_LIBLUMIREX0_PACKAGE_NAME liblumirex0)
set(CPACK_DEBIAN_LIBLUMIREX0_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBLUMIREX0_PACKAGE_CONTROL_EXTRA ${debian_binary}/shlibs ${debian_binary}/triggers)
# ODBC drivers are loaded by unixODBC at run time, so no linker sees them:
# SQLite's for the SQLite data sources, FreeTDS's for SQL Server.
set(CPACK_DEBIAN_LIBLUMIREX0_PACKAGE_SUGGESTS "libsqliteodbc, tdsodbc")
set(CPACK_DEBIAN_LIBLUMIREX0_DESCRIPTION
    "point-of-sale integration library for the Lumirex loyalty service
liblumirex.so is loaded by a till's back end to query customers, validate
promocodes and report sales and cancellations to the Lumirex service, writing
every step to a daily log.
.
This package holds the shared library.")

set(CPACK_DEBIAN_LIBLUMIREX-DEV_PACKAGE_NAME liblumirex-dev)
set(CPACK_DEBIAN_LIBLUMIREX-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBLUMIREX-DEV_PACKAGE_DEPENDS "liblumirex0 (= ${LUMIREX_DEB_VERSION})")
set(CPACK_DEBIAN_LIBLUMIREX-DEV_DESCRIPTION
    "point-of-sale integration library for Lumirex (development files)
liblumirex.so is loaded by a till's back end to query customers, validate
promocodes and report sales and cancellations to the Lumirex service.
.
This package holds the C and C++ headers, the CMake package
(find_package(lumirex)), the pkg-config file, a manual page per function and
example hosts in C and Python. The integration guide is in the lumirex
package, /usr/share/doc/lumirex/integration-guide.md.")

set(CPACK_DEBIAN_LUMIREX_PACKAGE_NAME lumirex)
set(CPACK_DEBIAN_LUMIREX_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_LUMIREX_PACKAGE_DEPENDS "liblumirex0 (= ${LUMIREX_DEB_VERSION})")
set(CPACK_DEBIAN_LUMIREX_DESCRIPTION
    "command-line client and sandbox for the Lumirex loyalty service
The lumirex command runs the point-of-sale library's operations (customer
query, promocode validation, sale report and cancellation) from a shell, reads
the integration log, and serves a sandbox of the service for tests and demos.
.
The integration guide is /usr/share/doc/lumirex/integration-guide.md; example
systemd units in /usr/share/doc/lumirex/examples send a till's outbox every
minute.")

set(CPACK_DEBIAN_PYTHON3-LUMIREX_PACKAGE_NAME python3-lumirex)
set(CPACK_DEBIAN_PYTHON3-LUMIREX_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON3-LUMIREX_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON3-LUMIREX_PACKAGE_DEPENDS "python3:any, liblumirex0 (>= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON3-LUMIREX_DESCRIPTION
    "Python client of the Lumirex point-of-sale integration library
The lumirex module calls liblumirex through ctypes: a Client with the customer
query, promocode validation, sale report and cancellation, their answers as
objects, and failures raised with the library's error code.")

include(CPack)
