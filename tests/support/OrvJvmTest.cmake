# orv_add_jvm_test(NAME name TARGET gtest-binary
#                  [CLASSPATH jar-or-add_jar-target...] [LIBPATH dir-or-library-target...]
#                  [JVM_OPTIONS opt...] [ARGS arg...] [TIMEOUT seconds] [LABELS label...]
#                  [ALLOW_LOCAL_REF_CAPACITY] [ALLOW_EXCEPTION_PENDING] [ALLOW regex...])
#
# Registers the binary twice: "name" as it is, and "name.checkjni" with -Xcheck:jni added,
# run through jni_check.cmake, which fails on any JNI finding outside the allow-list:
#   ALLOW_LOCAL_REF_CAPACITY  the notes "WARNING: JNI local refs: N, exceeds capacity: M"
#   ALLOW_EXCEPTION_PENDING   "WARNING in native method: JNI call made with exception pending"
#   ALLOW regex...            further lines the suite allows
# A run whose cases were all skipped (GTEST_SKIP) is reported by CTest as skipped, for
# both tests (see OrvTestSkips.cmake). The plain run carries the label jvm_plain (below).
set(ORV_JNI_CHECK_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/jni_check.cmake" CACHE INTERNAL "")

# orv_jvm_plain_twin(test...)
#   Labels the plain runs of suites that also run under -Xcheck:jni "jvm_plain": the asan
#   and i386 test presets leave them out, as the checked twin runs the same cases there;
#   the default preset runs both.
function(orv_jvm_plain_twin)
  set_property(TEST ${ARGN} APPEND PROPERTY LABELS jvm_plain)
endfunction()

function(orv_add_jvm_test)
  cmake_parse_arguments(PARSE_ARGV 0 T "ALLOW_LOCAL_REF_CAPACITY;ALLOW_EXCEPTION_PENDING"
                        "NAME;TARGET;TIMEOUT" "CLASSPATH;LIBPATH;JVM_OPTIONS;ARGS;LABELS;ALLOW")
  if(NOT T_NAME OR NOT T_TARGET)
    message(FATAL_ERROR "orv_add_jvm_test: NAME and TARGET are required")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()

  set(cp "")
  foreach(item IN LISTS T_CLASSPATH)
    if(TARGET ${item})
      list(APPEND cp "$<TARGET_PROPERTY:${item},JAR_FILE>")
    else()
      list(APPEND cp "${item}")
    endif()
  endforeach()
  set(lp "")
  foreach(item IN LISTS T_LIBPATH)
    if(TARGET ${item})
      list(APPEND lp "$<TARGET_FILE_DIR:${item}>")
    else()
      list(APPEND lp "${item}")
    endif()
  endforeach()
  string(JOIN ":" cp_text ${cp})
  string(JOIN ":" lp_text ${lp})

  set(cmd "$<TARGET_FILE:${T_TARGET}>" "--orv-classpath=${cp_text}" "--orv-libpath=${lp_text}")
  foreach(o IN LISTS T_JVM_OPTIONS)
    list(APPEND cmd "--orv-jvm-option=${o}")
  endforeach()
  list(APPEND cmd ${T_ARGS})

  add_test(NAME ${T_NAME} COMMAND ${cmd})

  set(allow "")
  if(T_ALLOW_LOCAL_REF_CAPACITY)
    list(APPEND allow "WARNING: JNI local refs: [0-9]+, exceeds capacity: [0-9]+")
  endif()
  if(T_ALLOW_EXCEPTION_PENDING)
    list(APPEND allow "WARNING in native method: JNI call made with exception pending")
  endif()
  list(APPEND allow ${T_ALLOW})

  # The command and allow-list go through a generated file: lists and regular expressions
  # survive that unharmed, which a -D argument on the cmake command line would not.
  set(checked ${cmd} "--orv-jvm-option=-Xcheck:jni")
  set(run_text "set(ORV_COMMAND [==[${checked}]==])\nset(ORV_ALLOW [==[${allow}]==])\nset(ORV_SKIP_RETURN_CODE ${ORV_SKIP_RETURN_CODE})\nset(ORV_SKIPPED [==[${ORV_JNI_CHECK_SKIPPED}]==])\n")
  set(run_file "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.checkjni.cmake")
  file(GENERATE OUTPUT "${run_file}" CONTENT "${run_text}")
  add_test(NAME ${T_NAME}.checkjni
           COMMAND ${CMAKE_COMMAND} "-DRUN_FILE=${run_file}" -P "${ORV_JNI_CHECK_SCRIPT}")

  set_tests_properties(${T_NAME} ${T_NAME}.checkjni PROPERTIES TIMEOUT ${T_TIMEOUT})
  # A run whose cases were all skipped is reported as skipped (OrvTestSkips.cmake).
  set_tests_properties(${T_NAME} PROPERTIES SKIP_RETURN_CODE ${ORV_SKIP_RETURN_CODE})
  set_tests_properties(${T_NAME}.checkjni PROPERTIES
                       SKIP_REGULAR_EXPRESSION "${ORV_JNI_CHECK_SKIPPED}")
  if(T_LABELS)
    set_tests_properties(${T_NAME} ${T_NAME}.checkjni PROPERTIES LABELS "${T_LABELS}")
  endif()
  orv_jvm_plain_twin(${T_NAME})
endfunction()
