# The command-line tools' shared parts (tests/tools/*_unit_test.cpp) and the tools run
# whole against hostile paths, descriptors, signals and a full disk.
file(GLOB tools_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/*.cpp)
if(tools_test_sources)
    add_executable(pemlo_tools_tests ${tools_test_sources})
    target_link_libraries(pemlo_tools_tests PRIVATE pemlo_tool_common GTest::gtest_main)
    target_compile_definitions(pemlo_tools_tests PRIVATE
        PEMLO_FLVENCODE_BIN="$<TARGET_FILE:pemlo-flvencode>"
        PEMLO_REPLAY_BIN="$<TARGET_FILE:pemlo-replay>")
    add_dependencies(pemlo_tools_tests pemlo-flvencode pemlo-replay)
    # pemlo-replay runs the output phase on two threads; ToolEndings signals it meanwhile.
    pemlo_discover_tests(pemlo_tools_tests THREADS ToolEndings PROPERTIES TIMEOUT 300)
endif()
