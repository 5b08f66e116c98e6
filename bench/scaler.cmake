# Area-averaging scaler throughput next to ffmpeg's area scaler (not run by the tests).
add_executable(pemlo_bench_scaler ${CMAKE_CURRENT_SOURCE_DIR}/scaler/main.cpp)
target_link_libraries(pemlo_bench_scaler PRIVATE pemlo_process)
