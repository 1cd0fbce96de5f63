# Checks the tests registered in a build directory: every one has a timeout
# (a hung test then fails by itself instead of holding the run), and no name
# carries the bytes of a parameter printed as raw memory, which hold
# addresses and so change from build to build.
#
#   cmake -DCTEST_COMMAND=ctest -DBUILD_DIR=build -P test_registration_check.cmake
cmake_minimum_required(VERSION 3.20)

execute_process(COMMAND ${CTEST_COMMAND} --test-dir ${BUILD_DIR} --show-only=json-v1
                OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ctest --show-only failed (${status}): ${errors}")
endif()

string(JSON count LENGTH "${listing}" tests)
if(count EQUAL 0)
  message(FATAL_ERROR "no tests are registered in ${BUILD_DIR}")
endif()
math(EXPR last "${count} - 1")
set(faults "")
foreach(i RANGE ${last})
  string(JSON name GET "${listing}" tests ${i} name)
  # A test program not yet built stands as a placeholder that fails by itself.
  if(name MATCHES "_NOT_BUILT$")
    continue()
  endif()
  if(name MATCHES "-byte object <")
    string(APPEND faults "  ${name}: the name holds the raw bytes of its parameter\n")
  endif()
  set(timeout "")
  string(JSON property_count ERROR_VARIABLE no_properties LENGTH "${listing}" tests ${i} properties)
  if(NOT no_properties)
    if(property_count GREATER 0)
      math(EXPR last_property "${property_count} - 1")
      foreach(k RANGE ${last_property})
        string(JSON property GET "${listing}" tests ${i} properties ${k} name)
        if(property STREQUAL "TIMEOUT")
          string(JSON timeout GET "${listing}" tests ${i} properties ${k} value)
        endif()
      endforeach()
    endif()
  endif()
  if(timeout STREQUAL "" OR timeout LESS_EQUAL 0)
    string(APPEND faults "  ${name}: no timeout\n")
  endif()
endforeach()

if(NOT faults STREQUAL "")
  message(FATAL_ERROR "of ${count} tests:\n${faults}")
endif()
message(STATUS "${count} tests, each with a timeout and a stable name")
