# Compiler settings for the project's own targets. The presets (and so CI)
# turn warnings into errors; a plain configure only reports them.
option(REGKEY_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

# regkey_target_options(TARGET [CONSUMER]): warnings, and the project's root on
# the include path, through which the project's own code reaches internal
# headers by their path from the root ("registry/hive.h"). A CONSUMER target
# (the examples) sees only what an installed package's user sees: the public
# headers its libraries give it.
function(regkey_target_options target)
  cmake_parse_arguments(ARG "CONSUMER" "" "" ${ARGN})
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(NOT ARG_CONSUMER)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  endif()
  if(REGKEY_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(WIN32)
    target_compile_definitions(${target} PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
  endif()
endfunction()

if(CMAKE_CROSSCOMPILING AND WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  # Test executables run under Wine of their own width, in a prefix inside the
  # build folder.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(REGKEY_WINE_ARCH win64)
  else()
    set(REGKEY_WINE_ARCH win32)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${CMAKE_CURRENT_SOURCE_DIR}/cmake/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix;${REGKEY_WINE_ARCH}")
endif()

# Rebuilds and several checkouts of the project share compiled objects through
# ccache where it is installed.
find_program(REGKEY_CCACHE ccache)
option(REGKEY_USE_CCACHE "Compile through ccache when it is installed" ON)
if(REGKEY_USE_CCACHE AND REGKEY_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER "${REGKEY_CCACHE}")
  set(CMAKE_CXX_COMPILER_LAUNCHER "${REGKEY_CCACHE}")
endif()
