# The test kit of every suite, benchmark and fuzz target: loopback sockets, the
# scripted HTTP server, raw HTTP, export requests and listener attacks,
# subscriptions (header-only, against the suite's client library) and minicimd
# as a child process.  Everything is in namespace orvtest.
find_package(Threads REQUIRED)
add_library(orv_test_kit STATIC ${CMAKE_CURRENT_LIST_DIR}/loopback.cpp
            ${CMAKE_CURRENT_LIST_DIR}/scripted_http_server.cpp ${CMAKE_CURRENT_LIST_DIR}/minicimd_process.cpp)
target_include_directories(orv_test_kit PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(orv_test_kit PUBLIC Threads::Threads)
target_compile_definitions(orv_test_kit PRIVATE
  ORV_TEST_MINICIMD_SCHEMA="${MINICIMD_TEST_SCHEMA}" ORV_TEST_DMTF_DIR="${ORV_DMTF_DIR}")
if(TARGET minicimd)
  target_compile_definitions(orv_test_kit PRIVATE ORV_TEST_MINICIMD_BINARY="$<TARGET_FILE:minicimd>")
endif()
orv_warnings(orv_test_kit)

