# Fails when libcimbridge.so exports anything but the JNI entry points of
# CIMImpl and CIMIndicationHook, JNI_OnLoad, JNI_OnUnload and CIM_DEBUG_ENABLED.  Weak symbols of OpenPegasus's classes and of
# standard library templates that the headers define inline may appear too;
# they belong to those libraries, not to the bridge.
# Called as: cmake -DNM=<nm> -DLIBRARY=<path> -P exports_check.cmake
execute_process(COMMAND ${NM} -D -C --defined-only --format=posix "${LIBRARY}"
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "exports_check: ${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found_native FALSE)
set(found_switch FALSE)
set(unexpected "")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  # POSIX format: name, type letter, value, size; names may contain blanks.
  string(REGEX REPLACE " [A-Za-z] [0-9a-fA-F]+( [0-9a-fA-F]+)?$" "" symbol "${line}")
  if(symbol MATCHES "^Java_javax_wbem_client_CIMImpl_")
    set(found_native TRUE)
  elseif(symbol MATCHES "^Java_javax_wbem_client_CIMIndicationHook_(attachListener|destination)$" OR symbol STREQUAL "JNI_OnUnload")
  elseif(symbol STREQUAL "JNI_OnLoad")
  elseif(symbol STREQUAL "CIM_DEBUG_ENABLED")
    set(found_switch TRUE)
  elseif(symbol MATCHES "^(_init|_fini)$" OR symbol MATCHES "Pegasus::" OR symbol MATCHES "^([A-Za-z_]+ )*std::")
    # (a template function's demangled name starts with its return type; type information
    # reads "typeinfo for std::...")
  elseif(symbol MATCHES "^__odr_asan[.]")
    # AddressSanitizer's marker beside each exported variable (sanitizer builds only)
  else()
    string(APPEND unexpected "  ${line}\n")
  endif()
endforeach()
if(NOT found_native OR NOT found_switch)
  message(FATAL_ERROR "exports_check: the JNI entry points or CIM_DEBUG_ENABLED are not exported:\n${out}")
endif()
if(unexpected)
  message(FATAL_ERROR "exports_check: internals leak out of the library:\n${unexpected}")
endif()
message("exports_check: only the JNI entry points and CIM_DEBUG_ENABLED are exported")
