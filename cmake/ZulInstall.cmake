# The relocatable package that `cmake --install` lays out for a client project:
#   include/zul/              pal_mscom.h and qel.h (on the host also host/, the OLE Automation subset)
#   lib/ (and bin/)           the library, on the host libzul_platform too, and the reference bridge
#   lib/cmake/zul_pal_mscom/  the package configuration: find_package(zul_pal_mscom), zul::pal_mscom
include_guard(GLOBAL)

install(FILES ${PROJECT_SOURCE_DIR}/include/zul/pal_mscom.h ${PROJECT_SOURCE_DIR}/include/zul/qel.h
        DESTINATION include/zul)
set(zul_installed zul_pal_mscom zul_reference_bridge)
if(WIN32)
  set(zul_package_windows TRUE)
  set(zul_package_targets [=[
set_target_properties(zul::pal_mscom PROPERTIES
  IMPORTED_LOCATION "${_zul_prefix}/bin/$<TARGET_FILE_NAME:zul_pal_mscom>"
  IMPORTED_IMPLIB "${_zul_prefix}/lib/$<TARGET_LINKER_FILE_NAME:zul_pal_mscom>"
  INTERFACE_LINK_LIBRARIES "oleaut32;ole32;uuid")
set_target_properties(zul::reference_bridge PROPERTIES
  IMPORTED_LOCATION "${_zul_prefix}/bin/$<TARGET_FILE_NAME:zul_reference_bridge>")]=])
else()
  set(zul_package_windows FALSE)
  set(zul_package_targets [=[
add_library(zul::platform SHARED IMPORTED)
set_target_properties(zul::platform PROPERTIES
  IMPORTED_LOCATION "${_zul_prefix}/lib/$<TARGET_FILE_NAME:zul_platform>"
  IMPORTED_SONAME "$<TARGET_SONAME_FILE_NAME:zul_platform>")
set_target_properties(zul::pal_mscom PROPERTIES
  IMPORTED_LOCATION "${_zul_prefix}/lib/$<TARGET_FILE_NAME:zul_pal_mscom>"
  IMPORTED_SONAME "$<TARGET_SONAME_FILE_NAME:zul_pal_mscom>"
  INTERFACE_LINK_LIBRARIES zul::platform)
set_target_properties(zul::reference_bridge PROPERTIES
  IMPORTED_LOCATION "${_zul_prefix}/lib/$<TARGET_FILE_NAME:zul_reference_bridge>")]=])
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zul/host DESTINATION include/zul)
  list(APPEND zul_installed zul_platform)
  # The library finds libzul_platform.so beside itself wherever the package is moved.
  set_target_properties(zul_pal_mscom PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
install(TARGETS ${zul_installed} RUNTIME DESTINATION bin LIBRARY DESTINATION lib ARCHIVE DESTINATION lib)

set(zul_config ${CMAKE_BINARY_DIR}/package/zul_pal_mscomConfig.cmake)
configure_file(${CMAKE_CURRENT_LIST_DIR}/zul_pal_mscomConfig.cmake.in ${zul_config}.in @ONLY)
file(GENERATE OUTPUT ${zul_config} INPUT ${zul_config}.in)
install(FILES ${zul_config} DESTINATION lib/cmake/zul_pal_mscom)
