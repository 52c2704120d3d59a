# Makes the release package of a build (CPack), unpacks it into a clean folder and uses it as a user would:
# checks its layout, builds a client project against it with the same toolchain and runs it; on the host
# also a client built with pkg-config that finds the bridge through ZUL_BIN_DIR; on Windows registers
# Zul.Object from the unpacked folder and runs a script against it.
# Usage: cmake -DBUILD_DIR=<build> -DCLIENT_DIR=<client project> -DWORK_DIR=<scratch> -DBUILD_TYPE=<type>
#              -DCPACK=<cpack> -DPACKAGE_GENERATOR=<generator> -DPACKAGE=<file name> -DVERSION=<x.y.z>
#              -DWINDOWS=<bool> [-DMSVC_IMPLIB=<bool: the build makes the MSVC import library>]
#              [-DTOOLCHAIN=<file>] [-DCXX_COMPILER=<compiler>] [-DSANITIZE=<flags>]
#              [-DSCRIPT_PREFIX=<.vbs> -DSCRIPT=<.vbs>] [-DCHECKS=<scripts, separated by |>]
#              -P package_test.cmake [<emulator>...]
# Each of CHECKS is included at the end, with PACKAGE_DIR the unpacked package, and run() and emulator.
include(${CMAKE_CURRENT_LIST_DIR}/command_after_script.cmake)
set(emulator ${zul_command})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "${shown}\nfailed (${result}):\n${output}")
  endif()
  string(REPLACE "\r" "" output "${output}")
  set(output "${output}" PARENT_SCOPE)
endfunction()

# Paths go to Windows programs through Wine's Z: drive.
function(windows_path out path)
  string(REPLACE "/" "\\" converted "Z:${path}")
  set(${out} "${converted}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
run(${CPACK} --config ${BUILD_DIR}/CPackConfig.cmake -G ${PACKAGE_GENERATOR} -B ${WORK_DIR}/packages)
if(NOT EXISTS ${WORK_DIR}/packages/${PACKAGE})
  file(GLOB made RELATIVE ${WORK_DIR}/packages ${WORK_DIR}/packages/*.*)
  message(FATAL_ERROR "CPack made ${made}, not ${PACKAGE}")
endif()
set(PACKAGE_DIR ${WORK_DIR}/package)
file(MAKE_DIRECTORY ${PACKAGE_DIR})
run(${CMAKE_COMMAND} -E chdir ${PACKAGE_DIR} ${CMAKE_COMMAND} -E tar xf ${WORK_DIR}/packages/${PACKAGE})

# What a user finds, and what never ships.
set(docs share/doc/zul_pal_mscom/)
set(expected include/zul/pal_mscom.h include/zul/pal_mscom_event.h include/zul/pal_mscom_version.h include/zul/qel.h
    lib/cmake/zul_pal_mscom/zul_pal_mscomConfigVersion.cmake)
if(WINDOWS)
  set(docs "")
  list(APPEND expected bin/zul_pal_mscom.dll bin/zul_automation.dll bin/reference/zul_qel.dll
       lib/libzul_pal_mscom.dll.a bin/zul-typegen.exe bin/zul_reference_types.dll bin/reference.tlb
       include/zul/types/reference.h)
  if(MSVC_IMPLIB)
    list(APPEND expected lib/zul_pal_mscom.lib)
  endif()
else()
  list(APPEND expected bin/zul-typegen lib/libzul_pal_mscom.so.1 lib/libzul_platform.so.1 include/zul/host/oleauto.h
       lib/zul_pal_mscom/reference/libzul_qel.so lib/pkgconfig/zul_pal_mscom.pc)
endif()
list(APPEND expected ${docs}README.md ${docs}docs/guide.md ${docs}LICENSE ${docs}CHANGELOG.md)
foreach(file ${expected})
  if(NOT EXISTS ${PACKAGE_DIR}/${file})
    message(FATAL_ERROR "The package lacks ${file}")
  endif()
endforeach()
file(GLOB_RECURSE hooks RELATIVE ${PACKAGE_DIR} ${PACKAGE_DIR}/*test_hooks*)
if(hooks)
  message(FATAL_ERROR "The package ships test hooks: ${hooks}")
endif()

# A client program must print exactly this.
function(check_client label)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  string(REPLACE "\r" "" output "${output}")
  if(NOT result EQUAL 0 OR NOT output STREQUAL "Text.Upper: INSTALLED\n")
    message(FATAL_ERROR "The client ${label} exited with ${result} and printed:\n${output}${errors}")
  endif()
endfunction()

# The client project asks for the version it was written for.
set(options -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${PACKAGE_DIR})
if(TOOLCHAIN)
  # The cross toolchain searches packages only under its root path; name the package directly.
  list(APPEND options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -Dzul_pal_mscom_DIR=${PACKAGE_DIR}/lib/cmake/zul_pal_mscom)
else()
  list(APPEND options -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
endif()
if(SANITIZE)
  set(sanitize -fsanitize=${SANITIZE})
  list(APPEND options "-DCMAKE_CXX_FLAGS=${sanitize}" "-DCMAKE_EXE_LINKER_FLAGS=${sanitize}")
endif()
run(${CMAKE_COMMAND} -S ${CLIENT_DIR} -B ${WORK_DIR}/client -G Ninja ${options})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/client)
file(GLOB program ${WORK_DIR}/client/zul_package_client ${WORK_DIR}/client/zul_package_client.exe)
check_client("built with CMake" ${emulator} ${program})

if(NOT WINDOWS)
  # pkg-config, and the bridge left where the package put it.
  set(ENV{PKG_CONFIG_PATH} ${PACKAGE_DIR}/lib/pkgconfig)
  run(pkg-config --cflags --libs zul_pal_mscom)
  string(STRIP "${output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  file(MAKE_DIRECTORY ${WORK_DIR}/pkgconfig_client)
  set(program ${WORK_DIR}/pkgconfig_client/client)
  run(${CXX_COMPILER} -std=c++17 ${sanitize} ${CLIENT_DIR}/main.cpp -o ${program} ${flags}
      -Wl,-rpath,${PACKAGE_DIR}/lib)
  check_client("built with pkg-config" ${CMAKE_COMMAND} -E env
               ZUL_BIN_DIR=${PACKAGE_DIR}/lib/zul_pal_mscom/reference ${program})
endif()

if(WINDOWS)
  # Zul.Object registered from the unpacked folder drives the packaged bridge from a script.
  windows_path(server ${PACKAGE_DIR}/bin/zul_automation.dll)
  windows_path(bridge_dir ${PACKAGE_DIR}/bin/reference)
  file(READ ${SCRIPT_PREFIX} prefix)
  file(READ ${SCRIPT} script)
  file(WRITE ${WORK_DIR}/package_check.vbs "${prefix}\n${script}")
  windows_path(script ${WORK_DIR}/package_check.vbs)
  run(${emulator} regsvr32 /s ${server})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ZUL_BIN_DIR=${bridge_dir} ZUL_PACKAGE_VERSION=${VERSION}
                          ${emulator} cscript //nologo ${script}
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  execute_process(COMMAND ${emulator} regsvr32 /s /u ${server})
  if(NOT output MATCHES "[1-9][0-9]* passed, 0 failed[\r\n]*$")
    message(FATAL_ERROR "The script against the packaged Zul.Object printed:\n${output}")
  endif()
endif()

# Further checks of the unpacked package.
string(REPLACE "|" ";" CHECKS "${CHECKS}")
foreach(check ${CHECKS})
  include(${check})
endforeach()
message(STATUS "The package ${PACKAGE} works")
