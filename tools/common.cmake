# What the command-line tools share: output files that replace their target only when
# complete, scratch files that leave nothing behind, removal on signals, checked inputs,
# bounded line reading, the command line read one way, --version. Linux only.
add_library(pemlo_tool_common STATIC
    ${CMAKE_CURRENT_LIST_DIR}/common/input_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/line_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/new_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/options.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/output_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/removal.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/same_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/scratch_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/standard_descriptors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/common/version.cpp)
target_link_libraries(pemlo_tool_common PUBLIC pemlo_platform)
