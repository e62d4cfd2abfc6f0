# What `cmake --install` puts under the prefix (the library, its headers, the
# command, the SQL files, a CMake package and a pkg-config file). Every rule
# names the component, and so the Debian package, it belongs to:
#   liblumirex0    the shared library (run time)
#   liblumirex-dev headers, the unversioned link, the CMake and pkg-config files
#   lumirex        the command, its SQL files, manual page, the guide and example units
# (the C interface's manual pages go with the headers).
# A plain install takes them all.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMIREX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lumirex)

if(LUMIREX_DEB_PACKAGES)
  # Each Debian package keeps its documents in its own folder.
  set(LUMIREX_DEV_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/liblumirex-dev)
else()
  # The command finds the library relative to itself, so any prefix works.
  set_target_properties(lumirex_cli PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  set(LUMIREX_DEV_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS lumirex EXPORT lumirexTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT liblumirex0
                NAMELINK_COMPONENT liblumirex-dev)
install(TARGETS lumirex_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lumirex)
# lumirex_ole.h is the Windows DLL's (OLE Automation types).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/lumirex DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT liblumirex-dev PATTERN lumirex_ole.h EXCLUDE)
# The command's demo reads the SQLite files from here; the SQL Server schema
# is for integrators setting up a test database.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sql/ DESTINATION ${CMAKE_INSTALL_DATADIR}/lumirex/sql
        COMPONENT lumirex FILES_MATCHING PATTERN "*.sql")
# The manual pages: the command's, written from its help at build time, and
# the C interface's, liblumirex(3) and one page a function, written by hand.
install(FILES ${LUMIREX_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT lumirex)
file(GLOB library_pages ${PROJECT_SOURCE_DIR}/docs/man/*.3)
install(FILES ${library_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT liblumirex-dev)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${LUMIREX_DEV_DOCDIR} COMPONENT liblumirex-dev)
# The guide goes with the command, so a store's till (which has no -dev
# package) has it too; every page points at it there.
install(FILES ${PROJECT_SOURCE_DIR}/docs/integration-guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT lumirex)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${LUMIREX_DEV_DOCDIR}/examples
        COMPONENT liblumirex-dev
        PATTERN "CMakeLists.txt" EXCLUDE PATTERN "__pycache__" EXCLUDE PATTERN "systemd" EXCLUDE)
# The Python package, pure Python over ctypes, where Debian's python3 finds it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/lumirex/ DESTINATION lib/python3/dist-packages/lumirex
        COMPONENT python3-lumirex FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
# Example units that send a till's outbox every minute; they are the
# command's, so they sit with its documents.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/systemd/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        COMPONENT lumirex)

# find_package(lumirex) gives the imported target lumirex::lumirex.
install(EXPORT lumirexTargets NAMESPACE lumirex:: DESTINATION ${LUMIREX_CMAKE_DIR}
        COMPONENT liblumirex-dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/lumirexConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/lumirexConfig.cmake
                              INSTALL_DESTINATION ${LUMIREX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lumirexConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/lumirexConfig.cmake
              ${PROJECT_BINARY_DIR}/lumirexConfigVersion.cmake
        DESTINATION ${LUMIREX_CMAKE_DIR} COMPONENT liblumirex-dev)

# pkg-config: a package names its prefix, so pkg-config prints /usr paths it
# can drop as the compiler's own; a plain install works the prefix out from
# where the .pc file lies, so a tree copied anywhere still works.
if(LUMIREX_DEB_PACKAGES)
  set(LUMIREX_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH to_prefix "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" to_prefix "${to_prefix}")
  set(LUMIREX_PC_PREFIX "\${pcfiledir}/${to_prefix}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/lumirex.pc.in ${PROJECT_BINARY_DIR}/lumirex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/lumirex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT liblumirex-dev)

include(${CMAKE_CURRENT_LIST_DIR}/DebianPackages.cmake)
