# The portal window's Wine test programs (Windows build). The tests that run
# them are registered by window/window-tests.cmake in the native build.
add_executable(window_resources_check ${CMAKE_SOURCE_DIR}/tests/wine/window_resources_check.cpp)
target_include_directories(window_resources_check PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(window_resources_check PRIVATE ${PICTO_WARNINGS})
target_link_options(window_resources_check PRIVATE -static)
target_link_libraries(window_resources_check PRIVATE version user32 kernel32)
add_dependencies(window_resources_check Pictolandrum)

add_executable(window_scenarios ${CMAKE_SOURCE_DIR}/tests/wine/window_scenarios.cpp
               ${CMAKE_SOURCE_DIR}/tests/wine/wine_check.cpp
               ${CMAKE_SOURCE_DIR}/stream/eit_writer.cpp ${CMAKE_SOURCE_DIR}/stream/ts_writer.cpp)
target_compile_options(window_scenarios PRIVATE ${PICTO_WARNINGS})
target_link_libraries(window_scenarios PRIVATE stand_in_host gdi32)
add_dependencies(window_scenarios Pictolandrum)
# GCC 12 at -O3 warns falsely (-Warray-bounds, -Wstringop-overread) about
# the vector inserts of the stream writer; only the Windows build sees it.
set_source_files_properties(${CMAKE_SOURCE_DIR}/stream/eit_writer.cpp
                            ${CMAKE_SOURCE_DIR}/stream/ts_writer.cpp
                            PROPERTIES COMPILE_OPTIONS "-Wno-array-bounds;-Wno-stringop-overread")
