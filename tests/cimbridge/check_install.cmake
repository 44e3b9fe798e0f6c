# Installs the build into a scratch prefix (with a space in its name, as a real
# path may have) and runs the Java-driven bridge test from the installed tree: the
# installed minicimd with its installed schema, the installed libcimbridge (which
# must find its OpenPegasus libraries on its own) and orvwbem.jar.
# Built against an installed OpenPegasus (OWN_PEGASUS OFF) the install deliberately holds
# neither minicimd nor our client libraries, and that OpenPegasus's connectLocal cannot be
# pointed at a private server: the check then expects exactly that, a run path to
# PEGASUS_LIBRARY_DIR, and runs the natives that need no server from the installed tree.
#   BUILD_DIR, PREFIX, FIXTURE (with_minicimd), JAVA, TEST_JAR, OWN_PEGASUS (ON/OFF),
#   PEGASUS_LIBRARY_DIR (the installed OpenPegasus's libraries, with OWN_PEGASUS OFF)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}")
endif()

set(expected lib/libcimbridge.so orvwbem.jar)
set(ours bin/minicimd share/minicimd/minicimd-test.mof
    lib/libpegcommon.so lib/libpegclient.so lib/libpeglistener.so)
if(OWN_PEGASUS)
  list(APPEND expected ${ours})
  set(unexpected "")
else()
  set(unexpected ${ours})
endif()
foreach(f IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "missing from the install: ${f}")
  endif()
endforeach()
foreach(f IN LISTS unexpected)
  if(EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "installed next to an installed OpenPegasus, which it would shadow: ${f}")
  endif()
endforeach()

file(READ_ELF "${PREFIX}/lib/libcimbridge.so" RUNPATH runpath)
if(runpath MATCHES "${BUILD_DIR}")
  message(FATAL_ERROR "the installed libcimbridge still looks into the build tree: RUNPATH '${runpath}'")
endif()
if(NOT OWN_PEGASUS)
  string(REPLACE ":" ";" runpath_entries "${runpath}")
  list(FIND runpath_entries "${PEGASUS_LIBRARY_DIR}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the installed libcimbridge does not look into ${PEGASUS_LIBRARY_DIR}: RUNPATH '${runpath}'")
  endif()
  # The installed library loads (finding OpenPegasus through its run path) and its
  # natives that need no server work; setups are not checked, since this OpenPegasus may
  # reach the machine's own CIM server.
  execute_process(
    COMMAND "${JAVA}" "-Djava.library.path=${PREFIX}/lib" -cp "${PREFIX}/orvwbem.jar:${TEST_JAR}"
            BridgeJavaTest --natives --server-may-run
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message("---- standard output ----\n${out}\n---- standard error ----\n${err}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the installed bridge failed its serverless checks (${rc})")
  endif()
  message("check_install: the tests against our minicimd from the installed tree are skipped "
          "(no minicimd is installed next to an installed OpenPegasus)")
  file(REMOVE_RECURSE "${PREFIX}")
  return()
endif()

execute_process(
  COMMAND "${FIXTURE}" "--minicimd=${PREFIX}/bin/minicimd" "--mof=${PREFIX}/share/minicimd/minicimd-test.mof"
          -- "${JAVA}" "-Djava.library.path=${PREFIX}/lib" -cp "${PREFIX}/orvwbem.jar:${TEST_JAR}"
          BridgeServerJavaTest
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("---- standard output ----\n${out}\n---- standard error ----\n${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the bridge test failed from the installed tree (${rc})")
endif()
file(REMOVE_RECURSE "${PREFIX}")
