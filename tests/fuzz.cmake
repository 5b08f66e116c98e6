# The fuzz targets' stored inputs (seeds and regressions), replayed by the ordinary suite.
pemlo_test_dir(fuzz pemlo_app pemlo_process)

# The libFuzzer programs themselves: `make fuzz` builds them in build/fuzz with clang,
# the sanitizers and -fsanitize=fuzzer-no-link on all code, and runs each for a while.
option(PEMLO_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(PEMLO_FUZZ)
    foreach(target spool_reader page_filling recovered_recording)
        add_executable(pemlo_fuzz_${target} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/targets/${target}.cpp)
        target_link_libraries(pemlo_fuzz_${target} PRIVATE pemlo_app pemlo_process)
        target_compile_options(pemlo_fuzz_${target} PRIVATE -fsanitize=fuzzer)
        target_link_options(pemlo_fuzz_${target} PRIVATE -fsanitize=fuzzer)
    endforeach()
endif()
