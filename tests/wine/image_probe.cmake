# The image operations on fixed inputs, compared with the native build's bytes.
if(TARGET pemlo_process)
    add_executable(image_probe ${CMAKE_CURRENT_LIST_DIR}/image_probe.cpp)
    target_link_libraries(image_probe PRIVATE pemlo_process)
    # The reference arithmetic in the probe must round as the scaler does.
    target_compile_options(image_probe PRIVATE -msse2 -mfpmath=sse)
endif()
