# The Windows platform layer (src/platform/win32/), built with the shared platform code and
# the parts of base/ it needs, and its tests, which run under Wine. The rest of the agent
# needs Boost's compiled libraries, OpenSSL, libcurl and JsonCpp built for Windows, which
# Debian does not package; a Windows build machine brings them (README, "Building for
# Windows").
set(src ${PROJECT_SOURCE_DIR}/src)
set(tests ${PROJECT_SOURCE_DIR}/tests)

# Header-only libraries from the host: only their own folders, since the rest of
# /usr/include holds the host's C library, which must not shadow MinGW's.
set(host_headers ${CMAKE_BINARY_DIR}/host-headers)
foreach(library boost rapidjson)
    if(NOT EXISTS /usr/include/${library})
        message(FATAL_ERROR "/usr/include/${library} is missing: run scripts/install-deps")
    endif()
    file(MAKE_DIRECTORY ${host_headers})
    file(CREATE_LINK /usr/include/${library} ${host_headers}/${library} SYMBOLIC)
endforeach()

file(GLOB win32_sources CONFIGURE_DEPENDS ${src}/platform/win32/*.cpp)
add_library(orvel_win32_platform STATIC
    ${win32_sources}
    ${src}/platform/file_ops.cpp
    ${src}/platform/file_stream.cpp
    ${src}/platform/memory_stream.cpp
    ${src}/platform/serial_ports.cpp
    ${src}/platform/stdio_file.cpp
    ${src}/platform/volume_root.cpp
    ${src}/base/failures.cpp
    ${src}/base/format.cpp
    ${src}/base/log_hub.cpp)
target_include_directories(orvel_win32_platform PUBLIC ${src})
target_include_directories(orvel_win32_platform SYSTEM PUBLIC ${host_headers})
target_compile_definitions(orvel_win32_platform PUBLIC
    # Windows 7 and later; the narrow ("A") calls throughout.
    _WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX
    # C99 printf: %zu and the PRIu64 forms, as the log's formats use them.
    __USE_MINGW_ANSI_STDIO=1)
target_link_libraries(orvel_win32_platform PUBLIC
    wininet setupapi cfgmgr32 bcrypt crypt32 ws2_32 mswsock iphlpapi advapi32)
# One executable that runs under Wine with nothing beside it: no MinGW runtime DLLs.
target_link_options(orvel_win32_platform PUBLIC -static)

if(NOT ORVEL_BUILD_TESTS)
    return()
endif()
enable_testing()
include(GoogleTest)

# GoogleTest from Debian's sources (package googletest), built with the cross compiler.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The test HTTP server of the Linux tests, as a host program that runs each test beside it
# (tests/support/win32/): Wine's programs reach it on the loopback.
include(ExternalProject)
ExternalProject_Add(win32_http_peer
    SOURCE_DIR ${tests}/support/win32
    BINARY_DIR ${CMAKE_BINARY_DIR}/http-peer
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DORVEL_SOURCE_DIR=${PROJECT_SOURCE_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
set(http_peer ${CMAKE_BINARY_DIR}/http-peer/win32_http_peer)

file(GLOB win32_tests CONFIGURE_DEPENDS ${tests}/platform/win32/*.cpp)
add_executable(win32_platform_tests
    ${win32_tests}
    ${tests}/platform/memory_stream_test.cpp
    ${tests}/platform/file_stream_test.cpp
    ${tests}/platform/socket_state_test.cpp
    ${tests}/platform/peer_owner_test.cpp
    ${tests}/support/capture_logger.cpp
    ${tests}/support/temp_folder.cpp)
target_include_directories(win32_platform_tests PRIVATE ${tests})
target_link_libraries(win32_platform_tests PRIVATE orvel_win32_platform gtest_main)
add_dependencies(win32_platform_tests win32_http_peer)
set_target_properties(win32_platform_tests PROPERTIES
    CROSSCOMPILING_EMULATOR "${http_peer};${CMAKE_CROSSCOMPILING_EMULATOR}")
# The first test run makes the Wine prefix, which takes a while.
gtest_discover_tests(win32_platform_tests DISCOVERY_TIMEOUT 120 TEST_FILTER -Win32CloseRequest.*)
# The close-request tests find the agent's window by its class on the one Wine desktop, where
# another of them running at the same time would have its own: they take turns.
gtest_discover_tests(win32_platform_tests DISCOVERY_TIMEOUT 120 TEST_FILTER Win32CloseRequest.*
                     PROPERTIES RESOURCE_LOCK agent_window)
