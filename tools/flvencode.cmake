# pemlo-flvencode: raw BGR frames in, FLV (Screen Video) out, through the real writer.
add_executable(pemlo-flvencode ${CMAKE_CURRENT_SOURCE_DIR}/flvencode/main.cpp)
target_link_libraries(pemlo-flvencode PRIVATE pemlo_tool_common pemlo_flv)
