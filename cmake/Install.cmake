# What `cmake --install` puts under the prefix (the library, its headers, the
# command, the manual pages, the SQL files, a CMake package and a pkg-config
# file), and the Debian package that `./dev package` makes of the same files.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMIREX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lumirex)

# The command finds the library relative to itself, so any prefix works.
set_target_properties(lumirex_cli PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

install(TARGETS lumirex EXPORT lumirexTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS lumirex_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/lumirex DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The command's demo reads the SQLite files from here; the SQL Server schema
# is for integrators setting up a test database.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sql/ DESTINATION ${CMAKE_INSTALL_DATADIR}/lumirex/sql
        FILES_MATCHING PATTERN "*.sql")
# The manual pages: the command's, written from its help at build time, and
# the C interface's, written by hand.
install(FILES ${LUMIREX_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/liblumirex.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/integration-guide.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN "CMakeLists.txt" EXCLUDE PATTERN "__pycache__" EXCLUDE)

# find_package(lumirex) gives the imported target lumirex::lumirex.
install(EXPORT lumirexTargets NAMESPACE lumirex:: DESTINATION ${LUMIREX_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/lumirexConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/lumirexConfig.cmake
                              INSTALL_DESTINATION ${LUMIREX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lumirexConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/lumirexConfig.cmake
              ${PROJECT_BINARY_DIR}/lumirexConfigVersion.cmake
        DESTINATION ${LUMIREX_CMAKE_DIR})

# pkg-config: the prefix is worked out from where the .pc file lies, so the
# same file serves a package under /usr and a tree copied anywhere.
file(RELATIVE_PATH LUMIREX_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" LUMIREX_PC_TO_PREFIX "${LUMIREX_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/lumirex.pc.in ${PROJECT_BINARY_DIR}/lumirex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/lumirex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The Debian package: its dependencies are worked out by dpkg-shlibdeps from
# the libraries the library and the command actually link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumirex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "lumirex developers <lumirex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Point-of-sale integration library for the Lumirex loyalty and cashback service")
set(CPACK_PACKAGE_DESCRIPTION
    "liblumirex.so is loaded by a till's back end to query customers, validate promocodes and report sales and cancellations to the Lumirex service. The package holds the library, its C and C++ headers, a CMake package and a pkg-config file, and the lumirex command with its sandbox service and demo.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
# ODBC drivers are loaded by unixODBC at run time, so no linker sees them:
# SQLite's for the SQLite data sources, FreeTDS's for SQL Server.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libsqliteodbc, tdsodbc")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
