# The update server and the key that signs its manifests are fixed when the installer is built.
# The defaults are the development values; the private half of the development key lives with
# the test fixtures and must never sign anything that ships.
set(VARNOK_DEV_BASE_URL "https://localhost:8443")
file(READ ${CMAKE_CURRENT_LIST_DIR}/../tests/fixtures/dev-manifest-key.pub.hex VARNOK_DEV_PUBLIC_KEY)
string(STRIP "${VARNOK_DEV_PUBLIC_KEY}" VARNOK_DEV_PUBLIC_KEY)

set(VARNOK_BASE_URL "" CACHE STRING "Built-in update server base URL (https origin, no trailing slash)")
set(VARNOK_MANIFEST_PUBLIC_KEY "" CACHE STRING "Built-in manifest public key: 128 hex digits, X then Y")
option(VARNOK_RELEASE "Release configuration: refuses development values" OFF)
# The version in the installer's version resource: what Explorer shows and what a package
# manager's manifest names. scripts/release sets it to the release's version.
set(VARNOK_INSTALLER_VERSION "${PROJECT_VERSION}" CACHE STRING "Installer version: major.minor.patch")

if(VARNOK_RELEASE)
    if(VARNOK_BASE_URL STREQUAL "" OR VARNOK_MANIFEST_PUBLIC_KEY STREQUAL "")
        message(FATAL_ERROR "A release build needs both VARNOK_BASE_URL and VARNOK_MANIFEST_PUBLIC_KEY.")
    endif()
    string(TOLOWER "${VARNOK_MANIFEST_PUBLIC_KEY}" _key_lower)
    if(_key_lower STREQUAL VARNOK_DEV_PUBLIC_KEY)
        message(FATAL_ERROR "A release build must not carry the development manifest key.")
    endif()
    if(VARNOK_BASE_URL STREQUAL VARNOK_DEV_BASE_URL)
        message(FATAL_ERROR "A release build must not point at the development server.")
    endif()
    string(TOLOWER "${VARNOK_BASE_URL}" _url_lower)
    if(NOT _url_lower MATCHES "^https://")
        message(FATAL_ERROR "A release build must reach its server over https: '${VARNOK_BASE_URL}'")
    endif()
    # A server on the builder's own machine or network answers no user's installer.
    string(REGEX REPLACE "^https://(\\[[^]]*\\]|[^/:?#]*).*$" "\\1" _host "${_url_lower}")
    string(REGEX REPLACE "\\.$" "" _host "${_host}")
    if(_host MATCHES "^(localhost|.*\\.localhost)$"
       OR _host MATCHES "^(127|10|0)\\.[0-9]+\\.[0-9]+\\.[0-9]+$"
       OR _host MATCHES "^192\\.168\\.[0-9]+\\.[0-9]+$"
       OR _host MATCHES "^169\\.254\\.[0-9]+\\.[0-9]+$"
       OR _host MATCHES "^172\\.(1[6-9]|2[0-9]|3[01])\\.[0-9]+\\.[0-9]+$"
       OR _host MATCHES "^\\[(0*:)*:?0*1\\]$"
       OR _host MATCHES "^\\[(::|f[cd][0-9a-f]*:|fe[89ab][0-9a-f]*:|::ffff:)")
        message(FATAL_ERROR "A release build must not point at a loopback or private host: '${_host}'")
    endif()
    # The only clock a release may read is its commit's: compilers that honour SOURCE_DATE_EPOCH
    # (__DATE__, __TIME__) then give the same bytes on every rebuild. A source copy that is not a
    # checkout passes the commit time in the environment.
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        set(_epoch "$ENV{SOURCE_DATE_EPOCH}")
    else()
        find_program(VARNOK_GIT git)
        if(VARNOK_GIT)
            execute_process(COMMAND ${VARNOK_GIT} log -1 --format=%ct
                            WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/..
                            OUTPUT_VARIABLE _epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        endif()
    endif()
    if(NOT "${_epoch}" MATCHES "^[0-9]+$")
        message(FATAL_ERROR "A release build needs its commit time: build from a git checkout or set SOURCE_DATE_EPOCH.")
    endif()
    message(STATUS "SOURCE_DATE_EPOCH=${_epoch}")
    set(VARNOK_SOURCE_DATE_EPOCH "${_epoch}")
    # A launcher, not the caller's environment, so that a later `cmake --build` from any shell
    # still compiles and links with the configured time.
    foreach(_what C_COMPILER CXX_COMPILER C_LINKER CXX_LINKER)
        set(CMAKE_${_what}_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${_epoch})
    endforeach()
endif()

if(VARNOK_BASE_URL STREQUAL "")
    set(_base_url "${VARNOK_DEV_BASE_URL}")
else()
    set(_base_url "${VARNOK_BASE_URL}")
endif()
if(VARNOK_MANIFEST_PUBLIC_KEY STREQUAL "")
    set(_public_key "${VARNOK_DEV_PUBLIC_KEY}")
else()
    set(_public_key "${VARNOK_MANIFEST_PUBLIC_KEY}")
endif()

if(NOT _base_url MATCHES "^https://[A-Za-z0-9.-]+(:[0-9]+)?$")
    message(FATAL_ERROR "VARNOK_BASE_URL must be an https origin without path or trailing slash: '${_base_url}'")
endif()
if(NOT _public_key MATCHES "^[0-9a-fA-F]+$")
    message(FATAL_ERROR "VARNOK_MANIFEST_PUBLIC_KEY must be hex digits")
endif()
string(LENGTH "${_public_key}" _key_len)
if(NOT _key_len EQUAL 128)
    message(FATAL_ERROR "VARNOK_MANIFEST_PUBLIC_KEY must be 128 hex digits, got ${_key_len}")
endif()
string(TOLOWER "${_public_key}" _public_key)

# Each part is a 16-bit word of the resource's binary version.
if(NOT VARNOK_INSTALLER_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "VARNOK_INSTALLER_VERSION must be major.minor.patch in digits: '${VARNOK_INSTALLER_VERSION}'")
endif()
foreach(_part 1 2 3)
    if(CMAKE_MATCH_${_part} GREATER 65535)
        message(FATAL_ERROR "VARNOK_INSTALLER_VERSION parts must be at most 65535: '${VARNOK_INSTALLER_VERSION}'")
    endif()
    math(EXPR VARNOK_VERSION_PART${_part} "${CMAKE_MATCH_${_part}}")
endforeach()

set(VARNOK_BUILTIN_BASE_URL "${_base_url}")
set(VARNOK_BUILTIN_PUBLIC_KEY "${_public_key}")
set(VARNOK_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/build_config.h.in ${VARNOK_GENERATED_DIR}/build_config.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/installer_version.h.in ${VARNOK_GENERATED_DIR}/installer_version.h @ONLY)
