# The project's version as the client and the system see it: the generated header zul/pal_mscom_version.h
# (included by zul/pal_mscom.h) and, on Windows, a VERSIONINFO resource in each DLL.
include_guard(GLOBAL)

set(ZUL_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/pal_mscom_version.h.in
               ${ZUL_GENERATED_INCLUDE_DIR}/zul/pal_mscom_version.h @ONLY)

# zul_version_resource(TARGET DESCRIPTION): the VERSIONINFO of TARGET's DLL, whose file properties in
# Windows then show DESCRIPTION and the version.
function(zul_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(zul_file_description "${description}")
  set(zul_original_name "$<TARGET_FILE_NAME:${target}>")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc}.in @ONLY)
  file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
  target_sources(${target} PRIVATE ${rc})
endfunction()
