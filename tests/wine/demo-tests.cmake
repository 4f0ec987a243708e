# The demo host's Wine tests: the headless walk through the portal window on
# the bundled sample, and the one-line failures (tests/wine/check_demo.py).
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  message(WARNING "python3 not found: the demo host's tests are not registered")
  return()
endif()
foreach(mode walk missing-capture not-a-capture missing-module)
  add_test(NAME wine_demo_${mode}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/wine/check_demo.py
                   ${PICTO_WINE_RUNNER} ${PICTO_WINE_PREFIX} ${PICTO_WINE_WORK}/demo_${mode}
                   ${PICTO_WIN32_DIR}/pictolandrum-demo.exe ${PICTO_WIN32_DIR}/Pictolandrum.dll
                   ${mode})
  set_tests_properties(wine_demo_${mode} PROPERTIES FIXTURES_REQUIRED wine_prefix
                       RESOURCE_LOCK wine TIMEOUT ${PICTO_WINE_SECONDS})
endforeach()
