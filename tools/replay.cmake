# pemlo-replay: the output phase on Linux from recorded-like input (frames, durations,
# cursor positions, sound), through the real spools and output driver.
add_executable(pemlo-replay
    ${CMAKE_CURRENT_LIST_DIR}/replay/main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/replay/options.cpp
    ${CMAKE_CURRENT_LIST_DIR}/replay/inputs.cpp)
target_link_libraries(pemlo-replay PRIVATE pemlo_app pemlo_process pemlo_capture pemlo_flv
                      pemlo_platform)
