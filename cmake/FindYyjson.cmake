# Finds yyjson >= 0.12 through its CMake package or pkg-config and provides
# the interface target oxmeta_yyjson.
set(_oxmeta_yyjson_min 0.12.0)
set(_oxmeta_yyjson_hint "yyjson >= ${_oxmeta_yyjson_min} not found: run scripts/install-deps.sh")

add_library(oxmeta_yyjson INTERFACE)

# A yyjson source directory (yyjson.c and yyjson.h), compiled into the
# library: for builds that cannot use a system package, such as the Windows
# cross-build.
set(OXMETA_YYJSON_SOURCE_DIR "" CACHE PATH "yyjson source directory to build in instead of a package")
if(OXMETA_YYJSON_SOURCE_DIR)
    if(NOT EXISTS "${OXMETA_YYJSON_SOURCE_DIR}/yyjson.c")
        message(FATAL_ERROR "no yyjson.c in OXMETA_YYJSON_SOURCE_DIR (${OXMETA_YYJSON_SOURCE_DIR})")
    endif()
    add_library(oxmeta_yyjson_src STATIC "${OXMETA_YYJSON_SOURCE_DIR}/yyjson.c")
    target_include_directories(oxmeta_yyjson_src SYSTEM PUBLIC "${OXMETA_YYJSON_SOURCE_DIR}")
    set_target_properties(oxmeta_yyjson_src PROPERTIES POSITION_INDEPENDENT_CODE ON C_VISIBILITY_PRESET hidden)
    target_link_libraries(oxmeta_yyjson INTERFACE oxmeta_yyjson_src)
    message(STATUS "yyjson from source: ${OXMETA_YYJSON_SOURCE_DIR}")
    return()
endif()

find_package(yyjson CONFIG QUIET)
if(TARGET yyjson::yyjson)
    get_target_property(_oxmeta_yyjson_inc yyjson::yyjson INTERFACE_INCLUDE_DIRECTORIES)
    find_file(_oxmeta_yyjson_h yyjson.h HINTS ${_oxmeta_yyjson_inc} NO_CACHE)
    if(_oxmeta_yyjson_h)
        file(STRINGS "${_oxmeta_yyjson_h}" _v REGEX "^#define YYJSON_VERSION_STRING")
        string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" yyjson_VERSION "${_v}")
    endif()
    if(yyjson_VERSION AND yyjson_VERSION VERSION_GREATER_EQUAL _oxmeta_yyjson_min)
        target_link_libraries(oxmeta_yyjson INTERFACE yyjson::yyjson)
        message(STATUS "yyjson ${yyjson_VERSION} (CMake package)")
        return()
    endif()
endif()

find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
    pkg_check_modules(OXMETA_YYJSON QUIET IMPORTED_TARGET "yyjson>=${_oxmeta_yyjson_min}")
    if(OXMETA_YYJSON_FOUND)
        target_link_libraries(oxmeta_yyjson INTERFACE PkgConfig::OXMETA_YYJSON)
        message(STATUS "yyjson ${OXMETA_YYJSON_VERSION} (pkg-config)")
        return()
    endif()
endif()

message(FATAL_ERROR "${_oxmeta_yyjson_hint}")
