include(CMakePackageConfigHelpers)

# Components: runtime (the library under its SONAME), dev (what a build
# against it needs), tool (tool/CMakeLists.txt); cmake/Packaging.cmake makes
# one Debian package of each.
install(TARGETS oxmeta EXPORT oxmetaTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

set(_oxmeta_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/oxmeta)
install(EXPORT oxmetaTargets NAMESPACE oxmeta:: DESTINATION ${_oxmeta_cmake_dir} COMPONENT dev)
configure_package_config_file(cmake/oxmetaConfig.cmake.in
    ${PROJECT_BINARY_DIR}/oxmetaConfig.cmake INSTALL_DESTINATION ${_oxmeta_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/oxmetaConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/oxmetaConfig.cmake ${PROJECT_BINARY_DIR}/oxmetaConfigVersion.cmake
    DESTINATION ${_oxmeta_cmake_dir} COMPONENT dev)

configure_file(cmake/oxmeta.pc.in ${PROJECT_BINARY_DIR}/oxmeta.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/oxmeta.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
