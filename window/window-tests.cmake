# The portal window's Wine tests (native build; included by
# tests/wine/wine-tests.cmake): the resource check against the built module,
# one test per window scenario, and the picture of the open window that the
# README shows, build/portal-window.png.
picto_wine_test(wine_window_resources window_resources_check Pictolandrum.dll)

foreach(scenario open_on_portal_stream open_off_portal_stream close_box
                 channel_change_window_open next_portal five_entries_decoded
                 entry_buttons_arm_decoder close_box_disarms_decoder topmost position
                 end_to_end soak create_fails)
  picto_wine_test(wine_window_${scenario} window_scenarios ${scenario})
endforeach()

find_program(PICTO_CONVERT convert)
if(NOT PICTO_CONVERT)
  message(WARNING "ImageMagick's convert not found: no picture of the portal window")
  return()
endif()
set(PICTO_SCREENSHOT_WORK ${PICTO_WINE_WORK}/wine_window_screenshot)
add_test(NAME wine_window_screenshot
         COMMAND bash -c "\"$@\" && \"${PICTO_CONVERT}\" \"${PICTO_SCREENSHOT_WORK}/portal-window.bmp\" \"${CMAKE_BINARY_DIR}/portal-window.png\""
                 bash ${PICTO_WINE_RUNNER} run ${PICTO_WINE_PREFIX} ${PICTO_SCREENSHOT_WORK}
                 ${PICTO_WINE_SECONDS} ${PICTO_WIN32_DIR}/window_scenarios.exe
                 ${PICTO_WIN32_DIR}/Pictolandrum.dll screenshot
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
set_tests_properties(wine_window_screenshot PROPERTIES FIXTURES_REQUIRED wine_prefix
                     RESOURCE_LOCK wine SKIP_RETURN_CODE 77 TIMEOUT ${PICTO_WINE_SECONDS})
