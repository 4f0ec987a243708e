# The Windows build (toolchain cmake/mingw-i686.cmake): Pictolandrum.dll, the
# stand-in host library and the programs the Wine tests run. Everything
# lands in the top of the build folder (build/win32 from the native build).
enable_language(RC)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The window's sources and exports; window/window-sources.cmake names them.
set(PICTO_WINDOW_SOURCES ${CMAKE_SOURCE_DIR}/window/portal_window.cpp)
set(PICTO_WINDOW_EXPORTS)
include(${CMAKE_SOURCE_DIR}/window/window-sources.cmake OPTIONAL)
list(JOIN PICTO_WINDOW_EXPORTS "\n  " PICTO_WINDOW_EXPORT_LINES)
if(PICTO_WINDOW_EXPORT_LINES)
  set(PICTO_WINDOW_EXPORT_LINES "  ${PICTO_WINDOW_EXPORT_LINES}")
endif()
configure_file(${CMAKE_SOURCE_DIR}/plugin/Pictolandrum.def.in ${CMAKE_BINARY_DIR}/Pictolandrum.def @ONLY)

# The module: no exceptions, no RTTI, the C runtime from msvcrt.dll and
# libgcc linked in, so it imports from KERNEL32, USER32 and msvcrt only.
# LibMain is the entry point itself; the module has no static constructors.
add_library(Pictolandrum SHARED
    ${PORTAL_CORE_SOURCES}
    ${CMAKE_SOURCE_DIR}/portal/portal_lock_win32.cpp
    ${CMAKE_SOURCE_DIR}/plugin/module_entry.cpp
    ${CMAKE_SOURCE_DIR}/plugin/entry_points.cpp
    ${CMAKE_SOURCE_DIR}/plugin/settings.cpp
    ${PICTO_WINDOW_SOURCES}
    ${CMAKE_BINARY_DIR}/Pictolandrum.def)
set_target_properties(Pictolandrum PROPERTIES PREFIX "" OUTPUT_NAME Pictolandrum)
target_include_directories(Pictolandrum PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(Pictolandrum PRIVATE __USE_MINGW_ANSI_STDIO=0 WIN32_LEAN_AND_MEAN)
target_compile_options(Pictolandrum PRIVATE ${PICTO_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables>)
target_link_options(Pictolandrum PRIVATE -s -static-libgcc -static-libstdc++ -nostartfiles
    -Wl,--entry,_LibMain@12 -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc)
target_link_libraries(Pictolandrum PRIVATE user32 kernel32)
# With LibMain as the entry point no static constructor would ever run:
# refuse to link a module that has one.
find_program(PICTO_MINGW_NM NAMES ${PICTO_MINGW_PREFIX}-nm REQUIRED)
add_custom_command(TARGET Pictolandrum PRE_LINK
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/no-static-constructors.sh ${PICTO_MINGW_NM}
            $<TARGET_OBJECTS:Pictolandrum>
    COMMAND_EXPAND_LISTS VERBATIM)

# The stand-in host: a small library of host routines, and the programs on it.
add_library(stand_in_host STATIC
    ${CMAKE_SOURCE_DIR}/host/stand_in_host.cpp
    ${CMAKE_SOURCE_DIR}/host/module_image.cpp)
target_include_directories(stand_in_host PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(stand_in_host PRIVATE ${PICTO_WARNINGS})
target_link_options(stand_in_host INTERFACE -static)
target_link_libraries(stand_in_host PUBLIC user32 kernel32)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/plugin_scenarios.cpp)
  add_executable(plugin_scenarios ${CMAKE_SOURCE_DIR}/tests/wine/plugin_scenarios.cpp
                 ${CMAKE_SOURCE_DIR}/tests/wine/wine_check.cpp)
  target_compile_options(plugin_scenarios PRIVATE ${PICTO_WARNINGS})
  target_link_libraries(plugin_scenarios PRIVATE stand_in_host)
  add_dependencies(plugin_scenarios Pictolandrum)
endif()

# The demo host (host/demo_*.cpp): the stand-in host playing a capture
# through the module, with the stream toolkit and the portal decoder to read
# the capture's channels.
set(PICTO_DEMO_STREAM_SOURCES
    ${CMAKE_SOURCE_DIR}/stream/eit_writer.cpp ${CMAKE_SOURCE_DIR}/stream/ts_writer.cpp
    ${CMAKE_SOURCE_DIR}/stream/ts_reader.cpp ${CMAKE_SOURCE_DIR}/stream/sample_stream.cpp)
add_executable(pictolandrum-demo
    ${CMAKE_SOURCE_DIR}/host/demo_host.cpp ${CMAKE_SOURCE_DIR}/host/demo_capture.cpp
    ${CMAKE_SOURCE_DIR}/host/demo_screenshot.cpp ${PICTO_DEMO_STREAM_SOURCES}
    ${PORTAL_CORE_SOURCES} ${CMAKE_SOURCE_DIR}/portal/portal_lock_win32.cpp)
target_compile_options(pictolandrum-demo PRIVATE ${PICTO_WARNINGS})
target_link_libraries(pictolandrum-demo PRIVATE stand_in_host gdi32)
add_dependencies(pictolandrum-demo Pictolandrum)
# GCC 12 warns falsely (-Warray-bounds, -Wstringop-overread) about the
# stream writer's vector inserts in this build.
set_source_files_properties(${PICTO_DEMO_STREAM_SOURCES}
                            PROPERTIES COMPILE_OPTIONS "-Wno-array-bounds;-Wno-stringop-overread")
