# Runs one JVM test binary (with -Xcheck:jni among its JVM options), shows everything it
# printed, and fails when it failed or when the JVM reported a JNI finding that the suite
# does not allow.  JDK 17 prints its -Xcheck:jni findings on standard output
# ("WARNING in native method: ...", "WARNING: JNI local refs: ..."), fatal ones as
# "FATAL ERROR in native method: ..."; both streams are read all the same.
#
# Called as: cmake -DRUN_FILE=<file> -P jni_check.cmake, where RUN_FILE sets ORV_COMMAND (the command
# as a list) and ORV_ALLOW (a list of regular expressions, each allowing matching lines), and
# optionally ORV_SKIP_RETURN_CODE and ORV_SKIPPED: a binary that exits with that code (all its
# cases skipped) and has no disallowed findings makes this script print ORV_SKIPPED and succeed,
# which the test's SKIP_REGULAR_EXPRESSION reports as a skip.
if(NOT RUN_FILE)
  message(FATAL_ERROR "jni_check: RUN_FILE is not set")
endif()
include("${RUN_FILE}")

execute_process(COMMAND ${ORV_COMMAND}
                OUTPUT_VARIABLE out
                ERROR_VARIABLE err
                RESULT_VARIABLE rc)
# Show what the binary said, so ctest --output-on-failure keeps its use.
message("---- standard output ----\n${out}")
message("---- standard error ----\n${err}")

set(findings "")
string(REPLACE ";" "\\;" all "${out}\n${err}")
string(REPLACE "\n" ";" lines "${all}")
foreach(line IN LISTS lines)
  if(line MATCHES "(WARNING|FATAL ERROR) in native method:|WARNING: JNI |Warning: Calling other JNI functions")
    set(allowed FALSE)
    foreach(pattern IN LISTS ORV_ALLOW)
      if(line MATCHES "${pattern}")
        set(allowed TRUE)
        break()
      endif()
    endforeach()
    if(NOT allowed)
      string(APPEND findings "  ${line}\n")
    endif()
  endif()
endforeach()

if(findings)
  message(FATAL_ERROR "jni_check: -Xcheck:jni reported findings that this suite does not allow (exit status ${rc}):\n${findings}")
endif()
# A GoogleTest binary whose cases were all skipped exits with ORV_SKIP_RETURN_CODE
# (orv_test_skip.h); the line printed then is the test's SKIP_REGULAR_EXPRESSION.
if(DEFINED ORV_SKIP_RETURN_CODE AND rc EQUAL ORV_SKIP_RETURN_CODE)
  message("${ORV_SKIPPED}")
  return()
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "jni_check: the test binary failed (${rc})")
endif()
message("jni_check: no disallowed -Xcheck:jni findings")
