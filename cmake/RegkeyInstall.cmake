# What `cmake --install` puts in place: the libraries (their own CMakeLists),
# the headers, the CMake package (find_package(regkey) gives regkey::regkey),
# a pkg-config file, and the tool with its manual page and bash completion.
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

if(NOT WIN32)
  # regkey.pc finds the prefix from its own place, so the files can be
  # installed under any prefix (cmake --install --prefix, a package).
  file(RELATIVE_PATH REGKEY_PC_PREFIX_FROM_PCDIR
       /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
  string(REGEX REPLACE "/$" "" REGKEY_PC_PREFIX_FROM_PCDIR "${REGKEY_PC_PREFIX_FROM_PCDIR}")
  # What the embedded registry links besides the C++ runtime.
  set(regkey_system_libs "-lsqlite3 -pthread")
  set(regkey_store_libs "")
  if(REGKEY_WITH_POSTGRES)
    set(regkey_system_libs "-lsqlite3 -lpq -pthread")
    # The registry and the PostgreSQL store refer to each other: one link
    # group (pkg-config keeps only the last of repeated -l flags).
    set(regkey_store_libs "-lregkey_store_postgres")
  endif()
  set(regkey_registry_libs "-lregkey_registry")
  if(regkey_store_libs)
    set(regkey_registry_libs "-Wl,--start-group -lregkey_registry ${regkey_store_libs} -Wl,--end-group")
  endif()
  if(REGKEY_SHARED)
    set(REGKEY_PC_LIBS "-lregkey")
    set(REGKEY_PC_LIBS_PRIVATE "${regkey_system_libs}")
  else()
    set(REGKEY_PC_LIBS
        "-lregkey ${regkey_registry_libs} -lregkey_framework -lregkey_platform ${regkey_system_libs}")
    set(REGKEY_PC_LIBS_PRIVATE "")
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/regkey.pc.in ${CMAKE_CURRENT_BINARY_DIR}/regkey.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/regkey.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

install(TARGETS qreg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/qreg/doc/qreg.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/qreg/completion/qreg.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME qreg)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
