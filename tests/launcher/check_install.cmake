# Installs the build into a scratch prefix (with a space and a "%" in its name, as a
# real path may have) and checks that it is a usable BREVIN_HOME.
#   BUILD_DIR, PREFIX, EXPECT_RUNPATH (the JDK's lib/server, or empty)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}")
endif()

foreach(f bin/agentlauncher orvmgmt.jar lib/systemd/system/agentlauncher.service)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "missing from the install: ${f}")
  endif()
endforeach()

if(EXPECT_RUNPATH)
  file(READ_ELF "${PREFIX}/bin/agentlauncher" RUNPATH runpath RPATH rpath)
  if(NOT runpath STREQUAL EXPECT_RUNPATH OR rpath)
    message(FATAL_ERROR "installed agentlauncher: RUNPATH '${runpath}' RPATH '${rpath}', "
                        "expected RUNPATH '${EXPECT_RUNPATH}' only")
  endif()
endif()

file(READ "${PREFIX}/lib/systemd/system/agentlauncher.service" unit)
string(REPLACE "%" "%%" escaped "${PREFIX}")
foreach(line
    "Type=simple"
    "Environment=\"BREVIN_HOME=${escaped}\""
    "Environment=\"ORV_HOME="
    "ExecStart=\"${escaped}/bin/agentlauncher\""
    "KillSignal=SIGTERM"
    "TimeoutStopSec=30")
  string(FIND "${unit}" "\n${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the unit lacks the line '${line}':\n${unit}")
  endif()
endforeach()

find_program(SYSTEMD_ANALYZE systemd-analyze)
if(SYSTEMD_ANALYZE)
  execute_process(COMMAND "${SYSTEMD_ANALYZE}" verify
                          "${PREFIX}/lib/systemd/system/agentlauncher.service"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR out MATCHES "agentlauncher")
    message(FATAL_ERROR "systemd-analyze verify (${rc}):\n${out}")
  endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "install layout OK")
