# cpack -G DEB: a Debian package of what `cmake --install` installs. Build it
# from a tree configured with -DCMAKE_INSTALL_PREFIX=/usr (the multiarch
# library folder) and -DBUILD_SHARED_LIBS=ON, so that qreg and users share
# libregkey.so.0 (scripts/check-deb does both).
set(CPACK_PACKAGE_NAME regkey)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The regkey authors")
set(CPACK_PACKAGE_CONTACT "The regkey authors <regkey@invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Registry access for MFC-style programs, with an embedded registry for Linux")
set(CPACK_PACKAGE_DESCRIPTION
    "The key class qorCRegKey, the MFC-style framework it uses and a porting kit for MFC code
(<tchar.h>, diagnostic and exception macros), the Win32 registry functions over an embedded
SQLite registry, and qreg, a command-line tool with Windows' reg syntax.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_STRIP_FILES ON)
# Depends from what the binaries link (dpkg-shlibdeps); the package's own
# library is found in the build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
# Maintainer scripts that run ldconfig for this machine only, not for a
# package installed into another root.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
                                       ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
