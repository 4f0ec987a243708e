# The Windows build (MinGW-w64) and the fuzz build (clang) run as sub-builds
# of the native one, so `cmake --build` makes everything and one ctest run
# tests everything. Every tool they and their tests need must be there:
# configure stops with the Debian package to install.
include(ExternalProject)

# picto_require(VARIABLE PACKAGE NAMES...): the program's path into VARIABLE,
# or a configure error naming the package.
function(picto_require variable package)
  find_program(${variable} NAMES ${ARGN})
  if(NOT ${variable})
    list(GET ARGN 0 program)
    message(FATAL_ERROR "${program} not found: install the Debian package ${package} "
                        "(or configure with -DPICTO_NATIVE_ONLY=ON for the native parts only)")
  endif()
endfunction()

picto_require(PICTO_MINGW_CXX g++-mingw-w64-i686 i686-w64-mingw32-g++-win32 i686-w64-mingw32-g++)
picto_require(PICTO_WINE wine wine)
picto_require(PICTO_XVFB_RUN xvfb xvfb-run)
picto_require(PICTO_CLANGXX clang clang++)
picto_require(PICTO_CLANG_FORMAT clang-format clang-format)
picto_require(PICTO_CONVERT imagemagick convert)
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  message(FATAL_ERROR "python3 not found: install the Debian package python3")
endif()
if(NOT EXISTS /usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll)
  message(FATAL_ERROR "32-bit Wine not found: install the Debian package wine32 (i386)")
endif()
# 32-bit Wine needs a kernel that runs 32-bit x86 programs, or qemu's i386
# emulator registered for them; scripts/install-deps.sh does the latter where
# the kernel cannot.
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE picto_i386_runs
                OUTPUT_QUIET ERROR_QUIET)
if(NOT picto_i386_runs EQUAL 0)
  message(FATAL_ERROR "this kernel runs no 32-bit x86 programs, so 32-bit Wine cannot start: "
                      "install the Debian package qemu-user-static (8 or later) and register it "
                      "for them, as scripts/install-deps.sh does")
endif()

ExternalProject_Add(fuzz_build
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
  CMAKE_ARGS -DPICTO_FUZZ=ON -DCMAKE_CXX_COMPILER=${PICTO_CLANGXX}
             -DCMAKE_C_COMPILER=clang -DCMAKE_BUILD_TYPE=RelWithDebInfo
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
set(PICTO_FUZZ_DIR ${CMAKE_BINARY_DIR}/fuzz/fuzz)

ExternalProject_Add(win32_build
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/win32
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
             -DCMAKE_BUILD_TYPE=Release
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
set(PICTO_WIN32_DIR ${CMAKE_BINARY_DIR}/win32)
