# Debian packages made by CPack (cpack -G DEB), one per component:
#   liboxmeta0      the shared library under its SONAME (shlibs, ldconfig trigger)
#   liboxmeta-dev   the header, the .so link, the pkg-config file, the CMake package
#   oxmeta          the tool, its man page, completions and recorded replies
# scripts/package.sh configures the `package` preset (prefix /usr, Debian's
# hardening flags, no RPATH) and runs cpack.

set(OXMETA_DEBIAN_RELEASE 1)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oxmeta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "oxmeta developers <oxmeta@example.org>")
set(CPACK_PACKAGE_VENDOR "the oxmeta developers")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/oxmeta")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${OXMETA_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the binaries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(_oxmeta_version "${PROJECT_VERSION}-${OXMETA_DEBIAN_RELEASE}")
# Each description: its summary line, then paragraphs (CPack indents them).
set(_oxmeta_about
    "oxmeta looks up film, TV and podcast metadata in TMDb (v3), OMDb and the\niTunes Search API, and reads what a media file's name says it is. It does\nno network I/O itself: its host installs an HTTP transport.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME liboxmeta0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The loader's cache is refreshed by dpkg's ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "film, TV and podcast metadata client - shared library\n${_oxmeta_about}\n\nThis package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME liboxmeta-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "liboxmeta0 (= ${_oxmeta_version})")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_DEV_DESCRIPTION "film, TV and podcast metadata client - development files\n${_oxmeta_about}\n\nThis package holds the C header, the pkg-config file and the CMake package\n(find_package(oxmeta) gives oxmeta::oxmeta).")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME oxmeta)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION video)
# The tool's own library is found in the build; the dependency on its
# package is stated here, beside those dpkg-shlibdeps finds.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "liboxmeta0 (= ${_oxmeta_version})")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "film, TV and podcast metadata client - command-line tool\n${_oxmeta_about}\n\nThis package holds the oxmeta command, its manual page, shell completions\nand the recorded replies that its --offline option answers from.")

# A copyright file and a changelog in each package's documentation folder.
string(TIMESTAMP OXMETA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(OXMETA_DEBIAN_VERSION ${_oxmeta_version})
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND gzip -9nf -k ${PROJECT_BINARY_DIR}/debian/changelog.Debian
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian)
add_custom_target(oxmeta_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
foreach(_component IN ITEMS runtime dev tool)
    string(TOUPPER ${_component} _upper)
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${_upper}_PACKAGE_NAME}
        COMPONENT ${_component})
endforeach()

include(CPack)
