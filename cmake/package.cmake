# Installs the CMake package and the pkg-config files. Included at the end of
# the top-level CMakeLists.txt, once every installed target exists.
include(CMakePackageConfigHelpers)

set(VX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vexlo_velocast)
set(VX_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(EXPORT vexlo_velocast_targets
  NAMESPACE vexlo_velocast::
  FILE vexlo_velocast-targets.cmake
  DESTINATION ${VX_PACKAGE_DIR}
  COMPONENT development)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vexlo_velocast-config.cmake.in
  ${PROJECT_BINARY_DIR}/package/vexlo_velocast-config.cmake
  INSTALL_DESTINATION ${VX_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/vexlo_velocast-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/vexlo_velocast-config.cmake
              ${PROJECT_BINARY_DIR}/package/vexlo_velocast-config-version.cmake
  DESTINATION ${VX_PACKAGE_DIR}
  COMPONENT development)

# The .pc files find the prefix from their own place (${pcfiledir}), so the
# tree stays usable when installed with `cmake --install --prefix` elsewhere.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(VX_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH VX_PC_PREFIX /prefix/${VX_PKGCONFIG_DIR} /prefix)
  string(REGEX REPLACE "/$" "" VX_PC_PREFIX "${VX_PC_PREFIX}")
  set(VX_PC_PREFIX "\${pcfiledir}/${VX_PC_PREFIX}")
  set(VX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VX_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(VX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
set(VX_PC_FILES vexlo_velocast)
if(TARGET vexlo_velocast_trace_file)
  list(APPEND VX_PC_FILES vexlo_velocast_trace_file)
endif()
foreach(pc IN LISTS VX_PC_FILES)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/package/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/${pc}.pc
    DESTINATION ${VX_PKGCONFIG_DIR}
    COMPONENT development)
endforeach()
