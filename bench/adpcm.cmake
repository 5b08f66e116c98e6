# ADPCM encoder and audio tag throughput (not run by the tests).
add_executable(pemlo_bench_adpcm ${CMAKE_CURRENT_SOURCE_DIR}/adpcm/main.cpp)
target_link_libraries(pemlo_bench_adpcm PRIVATE pemlo_flv)
