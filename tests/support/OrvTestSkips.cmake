# Skips that CTest reports as skips.
#
# orv_report_skips(test...)
#   For tests whose command is a GoogleTest binary with orv_gtest_main, orv_jvm_test_main or
#   its own main() ending in orvtest::RunJvmTests(): when every case of the run was skipped
#   (GTEST_SKIP), the binary exits with ORV_SKIP_RETURN_CODE and CTest reports the test as
#   skipped; a run that skipped some cases and passed the others passes as usual.
#   orv_add_jvm_test() does this by itself, for the test and for its -Xcheck:jni twin
#   (jni_check.cmake then prints ORV_JNI_CHECK_SKIPPED, matched by SKIP_REGULAR_EXPRESSION).
#
# orv_needs_private_server(test...)
#   For tests of the bridge that need our minicimd on a private socket (CIM_LOCAL_SOCKET),
#   or a socket where no server listens.  Built against an installed OpenPegasus
#   (ORV_OPENPEGASUS_INSTALLED), connectLocal goes to that OpenPegasus's compiled-in socket
#   whatever CIM_LOCAL_SOCKET says, so such tests can never reach our server: they are
#   registered DISABLED (CTest lists them as "Not Run (Disabled)", never as failed), carry
#   the label needs-private-server, and the reason is printed when configuring.  In the
#   default configuration (our client library) this does nothing.
set(ORV_SKIP_RETURN_CODE 77 CACHE INTERNAL "exit status of a GoogleTest binary whose cases all skipped")
set(ORV_JNI_CHECK_SKIPPED "jni_check: SKIPPED, every case of the suite was skipped"
    CACHE INTERNAL "")
set(ORV_PRIVATE_SERVER_SKIP_REASON
    "built against the OpenPegasus installed at ${OPENPEGASUS_LIBRARY_DIR}, whose connectLocal ignores CIM_LOCAL_SOCKET: our minicimd on a private socket cannot be reached"
    CACHE INTERNAL "")

function(orv_report_skips)
  if(ARGN)
    set_tests_properties(${ARGN} PROPERTIES SKIP_RETURN_CODE ${ORV_SKIP_RETURN_CODE})
  endif()
endfunction()

function(orv_needs_private_server)
  if(NOT ORV_OPENPEGASUS_INSTALLED OR NOT ARGN)
    return()
  endif()
  foreach(t IN LISTS ARGN)
    set_property(TEST ${t} PROPERTY DISABLED TRUE)
    set_property(TEST ${t} APPEND PROPERTY LABELS needs-private-server)
    message(STATUS "test ${t} skipped (disabled): ${ORV_PRIVATE_SERVER_SKIP_REASON}")
  endforeach()
endfunction()
