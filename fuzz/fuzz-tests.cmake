# Registers the fuzz runs with ctest (included by the native build).
# Each run gets a fresh corpus folder seeded from the stream writer and fails
# on any finding.
set(PICTO_FUZZ_SECONDS 60 CACHE STRING "Seconds the section-data fuzzer runs in ctest")
set(PICTO_SETTINGS_FUZZ_SECONDS 30 CACHE STRING "Seconds the position-file fuzzer runs in ctest")
set(PICTO_CAPTURE_FUZZ_SECONDS 30 CACHE STRING "Seconds the capture-reader fuzzer runs in ctest")
if(TARGET make_fuzz_seeds)
add_test(NAME fuzz_section_data
         COMMAND ${CMAKE_SOURCE_DIR}/fuzz/run-fuzzer.sh ${PICTO_FUZZ_DIR}/fuzz_section_data
                 ${PICTO_FUZZ_SECONDS} ${CMAKE_BINARY_DIR}/fuzz-corpus/section_data
                 $<TARGET_FILE:make_fuzz_seeds> section_data)
add_test(NAME fuzz_capture_reader
         COMMAND ${CMAKE_SOURCE_DIR}/fuzz/run-fuzzer.sh ${PICTO_FUZZ_DIR}/fuzz_capture_reader
                 ${PICTO_CAPTURE_FUZZ_SECONDS} ${CMAKE_BINARY_DIR}/fuzz-corpus/capture
                 $<TARGET_FILE:make_fuzz_seeds> capture)
add_test(NAME fuzz_settings
         COMMAND ${CMAKE_SOURCE_DIR}/fuzz/run-fuzzer.sh ${PICTO_FUZZ_DIR}/fuzz_settings
                 ${PICTO_SETTINGS_FUZZ_SECONDS} ${CMAKE_BINARY_DIR}/fuzz-corpus/settings
                 $<TARGET_FILE:make_fuzz_seeds> settings)
endif()
