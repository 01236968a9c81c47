# How the libraries are built and installed.
#
# They are position-independent, so that they can go into shared libraries
# and plugins. With BUILD_SHARED_LIBS=ON (Linux) they stay static inside the
# build, for the tests, and one shared library made of them all is installed
# instead (cmake/RegkeyShared.cmake).
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# regkey/version.h: the project version, for the tool and for users.
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
               ${PROJECT_BINARY_DIR}/include/regkey/version.h @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/include/regkey/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/regkey/regkey)

set(REGKEY_SHARED OFF)
if(BUILD_SHARED_LIBS)
  if(WIN32)
    message(STATUS "regkey: BUILD_SHARED_LIBS is for Linux; Windows builds stay static")
  else()
    set(REGKEY_SHARED ON)
  endif()
endif()

# regkey_install_library(TARGET): the library and its place in the CMake
# package; nothing when the shared library is installed in their stead.
function(regkey_install_library target)
  if(NOT REGKEY_SHARED)
    install(TARGETS ${target} EXPORT regkeyTargets)
  endif()
endfunction()
