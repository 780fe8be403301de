# The Windows builds (presets win32 and win64, cross-compiled with mingw-w64).
#
# Every program and module links the C and C++ runtimes and winpthread
# statically, so that out_sonavel.dll needs nothing but system DLLs. KISS FFT,
# which Debian ships only for Linux, is built here from Debian's own source
# package at the version the Linux build uses. Programs of the x86-64 build run
# under Wine (scripts/wine-run.sh) as the cross-compiling emulator.

add_link_options(-static)
# Names of the Windows API in their UTF-16 form, and no min/max macros.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)

# ---- KISS FFT from Debian's source package ----
set(SONAVEL_KISSFFT_SOURCE_DIR "" CACHE PATH
    "An unpacked kissfft source tree; empty: fetch Debian's with apt-get source")
if(NOT SONAVEL_KISSFFT_SOURCE_DIR)
  execute_process(COMMAND dpkg-query -W "-f=\${Version}" libkissfft-dev
                  OUTPUT_VARIABLE kissfft_version RESULT_VARIABLE rc ERROR_QUIET)
  if(rc OR NOT kissfft_version)
    message(FATAL_ERROR "libkissfft-dev is not installed (scripts/install-deps.sh installs it); "
                        "its version is the one the Windows build uses")
  endif()
  set(fetch_dir ${CMAKE_BINARY_DIR}/_deps/kissfft-source)
  set(stamp ${fetch_dir}/fetched-${kissfft_version})
  if(NOT EXISTS ${stamp})
    file(REMOVE_RECURSE ${fetch_dir})
    file(MAKE_DIRECTORY ${fetch_dir})
    message(STATUS "Fetching the kissfft ${kissfft_version} source package")
    execute_process(COMMAND apt-get source -qq kissfft=${kissfft_version}
                    WORKING_DIRECTORY ${fetch_dir} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(rc)
      message(FATAL_ERROR "apt-get source kissfft=${kissfft_version} failed; the Debian source entries "
                          "(deb-src) must be enabled, as scripts/install-deps.sh does:\n${err}")
    endif()
    file(TOUCH ${stamp})
  endif()
  file(GLOB kissfft_trees LIST_DIRECTORIES true ${fetch_dir}/kissfft-*)
  list(FILTER kissfft_trees INCLUDE REGEX "/kissfft-[0-9][^/]*$")
  if(NOT kissfft_trees)
    message(FATAL_ERROR "no unpacked kissfft source in ${fetch_dir}")
  endif()
  list(GET kissfft_trees 0 SONAVEL_KISSFFT_TREE)
else()
  set(SONAVEL_KISSFFT_TREE ${SONAVEL_KISSFFT_SOURCE_DIR})
endif()

# The library as Debian configures it (single-precision float, kissfft's own
# flags), static, without its tools and tests.
include(ExternalProject)
set(kissfft_prefix ${CMAKE_BINARY_DIR}/_deps/kissfft)
set(kissfft_library ${kissfft_prefix}/lib/libkissfft-float.a)
ExternalProject_Add(kissfft_build
  SOURCE_DIR ${SONAVEL_KISSFFT_TREE}
  BINARY_DIR ${CMAKE_BINARY_DIR}/_deps/kissfft-build
  INSTALL_DIR ${kissfft_prefix}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
    -DCMAKE_INSTALL_LIBDIR=lib
    -DCMAKE_INSTALL_INCLUDEDIR=include
    -DKISSFFT_DATATYPE=float
    -DKISSFFT_STATIC=ON
    -DKISSFFT_OPENMP=OFF
    -DKISSFFT_TEST=OFF
    -DKISSFFT_TOOLS=OFF
    -DKISSFFT_PKGCONFIG=OFF
  BUILD_BYPRODUCTS ${kissfft_library}
  LOG_CONFIGURE TRUE
  LOG_BUILD TRUE
  LOG_INSTALL TRUE
  LOG_OUTPUT_ON_FAILURE TRUE
  UPDATE_COMMAND ""
  EXCLUDE_FROM_ALL TRUE)
file(MAKE_DIRECTORY ${kissfft_prefix}/include/kissfft)
# The same name and interface as the Linux build's pkg-config target.
add_library(PkgConfig::KISSFFT STATIC IMPORTED GLOBAL)
set_target_properties(PkgConfig::KISSFFT PROPERTIES
  IMPORTED_LOCATION ${kissfft_library}
  INTERFACE_INCLUDE_DIRECTORIES "${kissfft_prefix}/include;${kissfft_prefix}/include/kissfft"
  INTERFACE_COMPILE_DEFINITIONS kiss_fft_scalar=float)
add_dependencies(PkgConfig::KISSFFT kissfft_build)

# ---- Running the x86-64 programs ----
# Tests run under Wine in a prefix of this build tree, made on first use.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(SONAVEL_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(SONAVEL_WINE NAMES wine64 wine)
  if(SONAVEL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${SONAVEL_WINE} ${CMAKE_BINARY_DIR}/wineprefix)
  else()
    message(WARNING "Wine (wine64) was not found: the Windows tests are built but cannot run")
  endif()
endif()
