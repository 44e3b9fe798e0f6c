# Installs the build into a scratch prefix (with a space in its name, as a real
# path may have) and runs the Java-driven bridge test from the installed tree: the
# installed minicimd with its installed schema, the installed libcimbridge (which
# must find its OpenPegasus libraries on its own) and orvwbem.jar.
#   BUILD_DIR, PREFIX, FIXTURE (with_minicimd), JAVA, TEST_JAR, OWN_PEGASUS (ON/OFF)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}")
endif()

set(expected lib/libcimbridge.so orvwbem.jar bin/minicimd share/minicimd/minicimd-test.mof)
if(OWN_PEGASUS)
  list(APPEND expected lib/libpegcommon.so lib/libpegclient.so lib/libpeglistener.so)
endif()
foreach(f IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "missing from the install: ${f}")
  endif()
endforeach()

file(READ_ELF "${PREFIX}/lib/libcimbridge.so" RUNPATH runpath)
if(runpath MATCHES "${BUILD_DIR}")
  message(FATAL_ERROR "the installed libcimbridge still looks into the build tree: RUNPATH '${runpath}'")
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
