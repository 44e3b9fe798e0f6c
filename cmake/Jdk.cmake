# Finds the JDK for the Java build and for JNI.  Machines here have no JAVA_HOME,
# so when it is unset the JDK is the one whose javac is on PATH.
if(NOT DEFINED ENV{JAVA_HOME} AND NOT JAVA_HOME)
  find_program(ORV_JAVAC javac REQUIRED)
  file(REAL_PATH "${ORV_JAVAC}" _orv_javac_real)
  get_filename_component(_orv_jdk_bin "${_orv_javac_real}" DIRECTORY)
  get_filename_component(_orv_jdk "${_orv_jdk_bin}" DIRECTORY)
  set(JAVA_HOME "${_orv_jdk}" CACHE PATH "JDK used for the Java build and JNI")
endif()
if(JAVA_HOME)
  set(ENV{JAVA_HOME} "${JAVA_HOME}")
endif()

find_package(Java 17 REQUIRED COMPONENTS Development Runtime)
include(UseJava)
# JNI headers and libjvm only: a headless JDK (no libjawt) is enough.
find_package(JNI REQUIRED COMPONENTS JVM)

# The JDK's libjvm folder, used as the RUNPATH of programs that create a JVM.
get_filename_component(ORV_JVM_LIBRARY_DIR "${JAVA_JVM_LIBRARY}" DIRECTORY)
set(ORV_JAVA_HOME "${JAVA_HOME}")
if(NOT ORV_JAVA_HOME)
  set(ORV_JAVA_HOME "$ENV{JAVA_HOME}")
endif()
message(STATUS "JDK: ${ORV_JAVA_HOME}, libjvm in ${ORV_JVM_LIBRARY_DIR}")

# One imported target for code that includes jni.h (no libjvm link).
add_library(orv_jni_headers INTERFACE)
target_include_directories(orv_jni_headers SYSTEM INTERFACE ${JNI_INCLUDE_DIRS})
