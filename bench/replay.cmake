# The output phase end to end through pemlo-replay next to ffmpeg's flashsv and
# adpcm_swf encoders (not run by the tests).
add_executable(pemlo_bench_replay ${CMAKE_CURRENT_SOURCE_DIR}/replay/main.cpp)
target_compile_definitions(pemlo_bench_replay PRIVATE
    PEMLO_REPLAY_BIN="$<TARGET_FILE:pemlo-replay>")
add_dependencies(pemlo_bench_replay pemlo-replay)
