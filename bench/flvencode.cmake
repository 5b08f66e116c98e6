# Screen Video encoder throughput next to ffmpeg's flashsv encoder (not run by the tests).
add_executable(pemlo_bench_flvencode ${CMAKE_CURRENT_SOURCE_DIR}/flvencode/main.cpp)
target_link_libraries(pemlo_bench_flvencode PRIVATE pemlo_flv)
