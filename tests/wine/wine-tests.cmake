# Registers the tests that run the Windows programs under Wine (included by
# the native build once the Windows build is set up in PICTO_WIN32_DIR).
# One fixture makes the Wine prefix; every test runs in a fresh folder with
# its own copy of the module, one at a time (they share the prefix's server).
find_program(PICTO_WINE wine)
find_program(PICTO_XVFB_RUN xvfb-run)
if(NOT PICTO_WINE OR NOT PICTO_XVFB_RUN)
  message(WARNING "wine or xvfb-run not found: the Wine tests are not registered")
  return()
endif()

set(PICTO_WINE_RUNNER ${CMAKE_SOURCE_DIR}/tests/wine/run-wine.sh)
set(PICTO_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(PICTO_WINE_WORK ${CMAKE_BINARY_DIR}/wine-work)
set(PICTO_WINE_SECONDS 120 CACHE STRING "Seconds one Wine test may run")

add_test(NAME wine_prefix COMMAND ${PICTO_WINE_RUNNER} prefix ${PICTO_WINE_PREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix RESOURCE_LOCK wine
                     TIMEOUT 300)

# picto_wine_test(NAME PROGRAM [ARGUMENTS...]): PROGRAM.exe of the Windows
# build, run beside Pictolandrum.dll.
function(picto_wine_test name program)
  add_test(NAME ${name}
           COMMAND ${PICTO_WINE_RUNNER} run ${PICTO_WINE_PREFIX} ${PICTO_WINE_WORK}/${name}
                   ${PICTO_WINE_SECONDS} ${PICTO_WIN32_DIR}/${program}.exe
                   ${PICTO_WIN32_DIR}/Pictolandrum.dll ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine
                       SKIP_RETURN_CODE 77 TIMEOUT ${PICTO_WINE_SECONDS})
endfunction()

foreach(scenario module_image start send_name channel_change_window_closed unload_with_timer
                 filter_close exit_with_filter_running unexpected_order
                 position_file_round_trip position_file_unreadable filter_data_fills_table)
  picto_wine_test(wine_${scenario} plugin_scenarios ${scenario})
endforeach()

# The demo host's tests.
include(${CMAKE_CURRENT_LIST_DIR}/demo-tests.cmake)

# The window's own Wine tests, registered by the window's part of the build.
include(${CMAKE_SOURCE_DIR}/window/window-tests.cmake OPTIONAL)
