# Frame spool benchmark: the recording cost of one tick and the read-back rate.
add_executable(pemlo_bench_spool ${CMAKE_CURRENT_LIST_DIR}/spool/main.cpp)
target_link_libraries(pemlo_bench_spool PRIVATE pemlo_capture ZLIB::ZLIB)
