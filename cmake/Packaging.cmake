# Installation and Debian packages. `cmake --install` puts the versioned library, the headers,
# our ODBC driver, qix-sql, a CMake package (find_package(qix_sql CONFIG) ->
# qix_sql::qix_sql) and qix_sql.pc in place; CPack builds three Debian packages from the
# install components: runtime (libqix-sql0), development (libqix-sql-dev), tools (qix-sql).
include(CMakePackageConfigHelpers)

set(QIX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qix_sql)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/qix DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

if(TARGET qix_lite_odbc)
  install(TARGETS qix_lite_odbc LIBRARY DESTINATION ${QIX_DRIVER_INSTALL_DIR} COMPONENT tools)
endif()

install(EXPORT qix_sql_targets NAMESPACE qix_sql:: FILE qix_sqlTargets.cmake
        DESTINATION ${QIX_CMAKE_PACKAGE_DIR} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qix_sqlConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/qix_sqlConfig.cmake INSTALL_DESTINATION ${QIX_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qix_sqlConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qix_sqlConfig.cmake ${PROJECT_BINARY_DIR}/qix_sqlConfigVersion.cmake
        DESTINATION ${QIX_CMAKE_PACKAGE_DIR} COMPONENT development)

# The .pc file finds the prefix from its own folder, so the installed tree can be moved.
file(RELATIVE_PATH QIX_PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" QIX_PC_PREFIX_FROM_PCDIR "${QIX_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qix_sql.pc.in ${PROJECT_BINARY_DIR}/qix_sql.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qix_sql.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qix-sql)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "qix_sql developers <qix-sql@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Typed, exception-based ODBC access for accelerator control programs")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libqix-sql0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libodbc2, libssl3, libstdc++6 (>= 12), libc6")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "qix_sql shared library\n Typed, exception-based access to ODBC data sources, a facility's component list and a configuration-management interface.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libqix-sql-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "unixodbc-dev, pkg-config")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "qix_sql development files\n Headers, CMake package (find_package(qix_sql CONFIG)) and pkg-config file of qix_sql.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qix-sql)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION database)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libfmt9, libodbcinst2, libsqlite3-0, unixodbc")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "qix-sql command-line program and qix_sql's SQLite-backed ODBC driver\n The component list and configuration services on the command line, and a demo data source.")
include(CPack)
