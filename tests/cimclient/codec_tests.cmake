# Tests of the CIM-XML codec, the transport and CIMClient (included from
# tests/cimclient/CMakeLists.txt).  The recorded OpenPegasus exchanges are read
# from ORV_SAMPLES_DIR (tests/data/cimxml-samples).
set(_cimclient_tests_dir ${CMAKE_CURRENT_LIST_DIR})

function(orv_cimclient_test name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${_cimclient_tests_dir})
  target_compile_definitions(${name} PRIVATE ORV_SAMPLES_DIR="${ORV_SAMPLES_DIR}")
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads orv_test_kit)
  orv_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS cimclient)
endfunction()

find_package(Threads REQUIRED)

orv_cimclient_test(cimclient_xmlpull ${_cimclient_tests_dir}/xmlpull_test.cpp)
target_link_libraries(cimclient_xmlpull PRIVATE orv_xmlpull)

orv_cimclient_test(cimclient_transport ${_cimclient_tests_dir}/transport_test.cpp)
target_link_libraries(cimclient_transport PRIVATE orv_httptransport)

if(TARGET pegcommon)
  orv_cimclient_test(cimclient_codec ${_cimclient_tests_dir}/codec_test.cpp)
  target_link_libraries(cimclient_codec PRIVATE pegcommon cimxml_internal)
endif()

if(TARGET pegclient)
  orv_cimclient_test(cimclient_client ${_cimclient_tests_dir}/client_test.cpp)
  # The local-auth helpers it calls (currentUserName) come with pegclient.
  target_link_libraries(cimclient_client PRIVATE pegclient cimxml_internal)
endif()

if(TARGET peglistener)
  # The listener on a real port; requests sent with the test kit's raw HTTP client.
  orv_cimclient_test(cimclient_listener ${_cimclient_tests_dir}/listener_test.cpp)
  target_link_libraries(cimclient_listener PRIVATE peglistener pegcommon cimxml_internal)
endif()
