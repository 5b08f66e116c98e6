# The FLV and thumbnail bytes of generated recordings, pinned: pemlo-replay must write
# exactly the bytes a known-good build wrote (the tool is added after the tests, hence
# the generator expression).
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
    add_test(NAME replay_outputs_pinned
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/process/replay/pinned_outputs.py
            $<TARGET_FILE:pemlo-replay> ${CMAKE_BINARY_DIR}/pinned-outputs)
    set_tests_properties(replay_outputs_pinned PROPERTIES TIMEOUT 300 LABELS threads)
    add_dependencies(threads_test_programs pemlo-replay)
endif()
