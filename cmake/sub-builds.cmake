# The fuzz build (clang) and, where MinGW is present, the Windows build, run
# as sub-builds of the native one so `cmake --build` makes everything and one
# ctest run tests everything.
include(ExternalProject)

find_program(PICTO_CLANGXX clang++)
if(PICTO_CLANGXX)
  ExternalProject_Add(fuzz_build
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -DPICTO_FUZZ=ON -DCMAKE_CXX_COMPILER=${PICTO_CLANGXX}
               -DCMAKE_C_COMPILER=clang -DCMAKE_BUILD_TYPE=RelWithDebInfo
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  set(PICTO_FUZZ_DIR ${CMAKE_BINARY_DIR}/fuzz/fuzz)
  add_executable(make_fuzz_seeds ${CMAKE_SOURCE_DIR}/fuzz/make_fuzz_seeds.cpp)
  target_link_libraries(make_fuzz_seeds PRIVATE stream_toolkit portal_core)
  target_compile_options(make_fuzz_seeds PRIVATE ${PICTO_WARNINGS})
  include(${CMAKE_SOURCE_DIR}/fuzz/fuzz-tests.cmake)
else()
  message(WARNING "clang++ not found: the fuzz targets are not built")
endif()

# The Windows build: Pictolandrum.dll, the stand-in host and the Wine test
# programs, in build/win32; its tests run under Wine from this build's ctest.
find_program(PICTO_MINGW_CXX NAMES i686-w64-mingw32-g++-win32 i686-w64-mingw32-g++)
if(PICTO_MINGW_CXX)
  ExternalProject_Add(win32_build
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/win32
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
               -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  set(PICTO_WIN32_DIR ${CMAKE_BINARY_DIR}/win32)
  include(${CMAKE_SOURCE_DIR}/tests/wine/wine-tests.cmake)
else()
  message(WARNING "i686-w64-mingw32-g++ not found: Pictolandrum.dll is not built")
endif()
