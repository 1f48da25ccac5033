# nlohmann/json is header-only; the cross build must not see the host's /usr/include, so its
# headers are copied into the build tree and used from there by both builds.
set(_json_src /usr/include/nlohmann)
if(NOT EXISTS ${_json_src}/json.hpp)
    message(FATAL_ERROR "nlohmann/json not found: install nlohmann-json3-dev")
endif()
file(COPY ${_json_src} DESTINATION ${CMAKE_BINARY_DIR}/third_party/include)
add_library(varnok_json INTERFACE)
target_include_directories(varnok_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/third_party/include)

if(NOT WIN32)
    find_package(OpenSSL REQUIRED)
    # The publisher's tool parses its command line with CLI11 (header-only).
    find_package(CLI11 CONFIG QUIET)
    if(NOT CLI11_FOUND)
        message(FATAL_ERROR "CLI11 not found: install libcli11-dev")
    endif()
endif()

# GoogleTest from Debian's source package, built with whichever compiler this build uses.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)
