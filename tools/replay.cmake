# pemlo-replay: the output phase on Linux from recorded-like input (frames, durations,
# cursor positions, sound), through the real spools and output driver.
add_library(pemlo_replay_inputs STATIC
    ${CMAKE_CURRENT_LIST_DIR}/replay/options.cpp
    ${CMAKE_CURRENT_LIST_DIR}/replay/inputs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/replay/arrow.cpp)
target_link_libraries(pemlo_replay_inputs PUBLIC pemlo_tool_common pemlo_flv pemlo_capture)

add_executable(pemlo-replay ${CMAKE_CURRENT_LIST_DIR}/replay/main.cpp)
target_link_libraries(pemlo-replay PRIVATE pemlo_replay_inputs pemlo_app pemlo_process
                      pemlo_capture pemlo_flv pemlo_platform)

# The tool's tests: its inputs and refusals, and (label peer) ffmpeg decoding its output.
file(GLOB replay_test_sources CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/tests/process/replay/*.cpp)
if(replay_test_sources)
    include(GoogleTest)
    add_executable(pemlo_replay_tests ${replay_test_sources})
    target_link_libraries(pemlo_replay_tests PRIVATE pemlo_replay_inputs pemlo_process
                          GTest::gtest_main)
    target_compile_definitions(pemlo_replay_tests PRIVATE
        PEMLO_REPLAY_BIN="$<TARGET_FILE:pemlo-replay>")
    add_dependencies(pemlo_replay_tests pemlo-replay)
    gtest_discover_tests(pemlo_replay_tests TEST_FILTER "-ReplayPeer*" DISCOVERY_TIMEOUT 60)
    gtest_discover_tests(pemlo_replay_tests TEST_FILTER "ReplayPeer*" DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS peer TIMEOUT 600)
endif()
