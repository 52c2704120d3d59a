# The relocatable package that `cmake --install` lays out (GNUInstallDirs; components runtime, development
# and reference_bridge):
#   bin/ (Windows)            zul_pal_mscom.dll and zul_automation.dll (Zul.Object)
#   lib/                      on the host libzul_pal_mscom.so and libzul_platform.so; the import libraries
#   include/zul/              pal_mscom.h, pal_mscom_version.h, qel.h (on the host also host/, our OLE
#                             Automation subset)
#   lib/cmake/zul_pal_mscom/  find_package(zul_pal_mscom 1.0): zul::pal_mscom, zul::reference_bridge
#   lib/pkgconfig/ (host)     zul_pal_mscom.pc
#   the reference bridge      bin/reference/ (Windows), lib/zul_pal_mscom/reference/ (host): a client copies
#                             it beside its program or names the folder in ZUL_BIN_DIR
#   README, guide, license    at the top (Windows), in share/doc/zul_pal_mscom/ (host)
include_guard(GLOBAL)

set(zul_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zul_pal_mscom)
if(WIN32)
  set(zul_reference_destination ${CMAKE_INSTALL_BINDIR}/reference)
  set(zul_doc_destination .)
else()
  set(zul_reference_destination ${CMAKE_INSTALL_LIBDIR}/zul_pal_mscom/reference)
  set(zul_doc_destination ${CMAKE_INSTALL_DOCDIR})
endif()

set_target_properties(zul_pal_mscom PROPERTIES EXPORT_NAME pal_mscom)
set(zul_exported zul_pal_mscom)
if(NOT WIN32)
  set_target_properties(zul_platform PROPERTIES EXPORT_NAME platform)
  list(APPEND zul_exported zul_platform)
  # The library finds libzul_platform.so beside itself wherever the package is moved.
  set_target_properties(zul_pal_mscom PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
install(TARGETS ${zul_exported} EXPORT zul_pal_mscomTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
if(TARGET zul_automation)
  install(TARGETS zul_automation RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()
# The generator of typed classes, and on Windows the reference classes typed, with their type library and header.
install(TARGETS zul_typegen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT development)
if(TARGET zul_reference_types)
  install(TARGETS zul_reference_types RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  install(FILES ${CMAKE_BINARY_DIR}/types/reference.tlb DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  install(FILES ${CMAKE_BINARY_DIR}/types/reference.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zul/types
          COMPONENT development)
endif()
# The import library for Microsoft's linker, beside the mingw one.
if(TARGET zul_pal_mscom_msvc_implib)
  install(FILES ${CMAKE_BINARY_DIR}/lib/zul_pal_mscom.lib DESTINATION ${CMAKE_INSTALL_LIBDIR}
          COMPONENT development OPTIONAL)
endif()
install(TARGETS zul_reference_bridge
        RUNTIME DESTINATION ${zul_reference_destination} COMPONENT reference_bridge
        LIBRARY DESTINATION ${zul_reference_destination} COMPONENT reference_bridge)

install(FILES ${PROJECT_SOURCE_DIR}/include/zul/pal_mscom.h ${PROJECT_SOURCE_DIR}/include/zul/pal_mscom_event.h
              ${PROJECT_SOURCE_DIR}/include/zul/qel.h
              ${ZUL_GENERATED_INCLUDE_DIR}/zul/pal_mscom_version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zul COMPONENT development)
if(NOT WIN32)
  # Test hooks are for our tests only, wherever they live.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zul/host DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zul
          COMPONENT development PATTERN test_hooks.h EXCLUDE)
endif()

install(EXPORT zul_pal_mscomTargets NAMESPACE zul:: DESTINATION ${zul_cmake_dir} COMPONENT development)
include(CMakePackageConfigHelpers)
set(zul_package_dir ${PROJECT_BINARY_DIR}/package)
write_basic_package_version_file(${zul_package_dir}/zul_pal_mscomConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
# Where the reference bridge lies, relative to the package's prefix.
set(zul_reference_file ${zul_reference_destination}/$<TARGET_FILE_NAME:zul_reference_bridge>)
# The way up from the package's folders to its prefix.
set(zul_cmake_to_prefix /prefix)
cmake_path(RELATIVE_PATH zul_cmake_to_prefix BASE_DIRECTORY /prefix/${zul_cmake_dir})
set(zul_pkgconfig_to_prefix /prefix)
cmake_path(RELATIVE_PATH zul_pkgconfig_to_prefix BASE_DIRECTORY /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(WIN32)
  set(zul_package_windows TRUE)
else()
  set(zul_package_windows FALSE)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/zul_pal_mscomConfig.cmake.in ${zul_package_dir}/zul_pal_mscomConfig.cmake.in
               @ONLY)
file(GENERATE OUTPUT ${zul_package_dir}/zul_pal_mscomConfig.cmake INPUT ${zul_package_dir}/zul_pal_mscomConfig.cmake.in)
install(FILES ${zul_package_dir}/zul_pal_mscomConfig.cmake ${zul_package_dir}/zul_pal_mscomConfigVersion.cmake
        DESTINATION ${zul_cmake_dir} COMPONENT development)

if(NOT WIN32)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/zul_pal_mscom.pc.in ${zul_package_dir}/zul_pal_mscom.pc @ONLY)
  install(FILES ${zul_package_dir}/zul_pal_mscom.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT development)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${zul_doc_destination} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/docs/guide.md DESTINATION ${zul_doc_destination}/docs COMPONENT runtime)
