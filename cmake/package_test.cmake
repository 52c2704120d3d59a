# Installs the build into a staging directory, moves it (the package is relocatable), then configures,
# builds and runs a client project against it with the same toolchain.
# Usage: cmake -DBUILD_DIR=<build> -DCLIENT_DIR=<client project> -DWORK_DIR=<scratch> -DBUILD_TYPE=<type>
#              [-DTOOLCHAIN=<file>] [-DCXX_COMPILER=<compiler>] [-DSANITIZE=<flags>]
#              -P package_test.cmake [<emulator>...]
include(${CMAKE_CURRENT_LIST_DIR}/command_after_script.cmake)
set(emulator ${zul_command})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "${shown}\nfailed (${result}):\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/staging)
file(RENAME ${WORK_DIR}/staging ${WORK_DIR}/package)

set(options -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${WORK_DIR}/package)
if(TOOLCHAIN)
  # The cross toolchain searches packages only under its root path; name the package directly.
  list(APPEND options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
       -Dzul_pal_mscom_DIR=${WORK_DIR}/package/lib/cmake/zul_pal_mscom)
else()
  list(APPEND options -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
endif()
if(SANITIZE)
  list(APPEND options "-DCMAKE_CXX_FLAGS=-fsanitize=${SANITIZE}" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE}")
endif()
run(${CMAKE_COMMAND} -S ${CLIENT_DIR} -B ${WORK_DIR}/client -G Ninja ${options})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/client)

file(GLOB program ${WORK_DIR}/client/zul_package_client ${WORK_DIR}/client/zul_package_client.exe)
execute_process(COMMAND ${emulator} ${program} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
string(REPLACE "\r" "" output "${output}")
if(NOT result EQUAL 0 OR NOT output STREQUAL "Text.Upper: INSTALLED\n")
  message(FATAL_ERROR "The client exited with ${result} and printed:\n${output}${errors}")
endif()
message(STATUS "The installed package works: ${output}")
