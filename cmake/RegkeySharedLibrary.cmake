# The library targets as a user links them. Included after the libraries are
# defined. REGKEY_LIBRARY names what the tool and users link: the static key
# class (which brings the others), or with BUILD_SHARED_LIBS=ON on Linux the
# one shared library libregkey.so.MAJOR, made of the same position-independent
# objects and exporting only the public API (cmake/regkey.map).

# regkey/version.h comes with the key class.
target_include_directories(regkey PUBLIC $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>)

set(REGKEY_LIBRARY regkey)
if(NOT REGKEY_SHARED)
  return()
endif()

add_library(regkey_shared SHARED
  $<TARGET_OBJECTS:regkey_platform>
  $<TARGET_OBJECTS:regkey_framework>
  $<TARGET_OBJECTS:regkey_registry>
  $<TARGET_OBJECTS:regkey>
  $<$<BOOL:${REGKEY_WITH_POSTGRES}>:$<TARGET_OBJECTS:regkey_store_postgres>>)
# The static libraries bring what their objects need (SQLite, threads); their
# own objects are all defined already, so nothing is taken from them twice.
target_link_libraries(regkey_shared PRIVATE regkey)
target_include_directories(regkey_shared INTERFACE
  $<BUILD_INTERFACE:$<TARGET_PROPERTY:regkey,INTERFACE_INCLUDE_DIRECTORIES>>
  $<BUILD_INTERFACE:$<TARGET_PROPERTY:regkey_registry,INTERFACE_INCLUDE_DIRECTORIES>>
  $<BUILD_INTERFACE:$<TARGET_PROPERTY:regkey_framework,INTERFACE_INCLUDE_DIRECTORIES>>
  $<BUILD_INTERFACE:$<TARGET_PROPERTY:regkey_platform,INTERFACE_INCLUDE_DIRECTORIES>>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/regkey>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/regkey/framework>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/regkey/framework/crt>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/regkey/platform>)
find_package(Threads REQUIRED)
target_link_libraries(regkey_shared INTERFACE Threads::Threads)
set(regkey_exports ${CMAKE_CURRENT_LIST_DIR}/regkey.map)
target_link_options(regkey_shared PRIVATE "LINKER:--version-script=${regkey_exports}"
                    "LINKER:--no-undefined")
set_target_properties(regkey_shared PROPERTIES
  OUTPUT_NAME regkey
  EXPORT_NAME regkey
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  LINK_DEPENDS ${regkey_exports})
add_library(regkey::shared ALIAS regkey_shared)
install(TARGETS regkey_shared EXPORT regkeyTargets)
set(REGKEY_LIBRARY regkey_shared)
