# Preview publication benchmark: the recording written beside the page as data scripts.
add_executable(pemlo_bench_preview ${CMAKE_CURRENT_LIST_DIR}/preview/main.cpp)
target_link_libraries(pemlo_bench_preview PRIVATE pemlo_app)
