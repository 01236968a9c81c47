# The installable package: find_package(regkey) gives regkey::regkey.
include(CMakePackageConfigHelpers)
install(EXPORT regkeyTargets NAMESPACE regkey:: FILE regkeyTargets.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/regkey)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/regkeyConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/regkeyConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/regkey)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/regkeyConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/regkeyConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/regkeyConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/regkey)
