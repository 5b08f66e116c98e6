# The preview page resources as the Windows program carries and writes them.
if(TARGET pemlo_resources)
    add_executable(preview_probe ${CMAKE_CURRENT_LIST_DIR}/preview_probe.cpp
        $<TARGET_OBJECTS:pemlo_resources>)
    target_link_libraries(preview_probe PRIVATE pemlo_app)
endif()
