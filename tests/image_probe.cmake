# The image operations' bytes on fixed inputs: the probe checks itself natively, and
# the Windows build's probe under Wine must print the same report.
add_executable(pemlo_image_probe ${CMAKE_CURRENT_LIST_DIR}/wine/image_probe.cpp)
target_link_libraries(pemlo_image_probe PRIVATE pemlo_process)
add_test(NAME image_probe COMMAND pemlo_image_probe)
function(pemlo_image_probe_wine_test)
    if(PEMLO_WINDOWS_D3D_BIN)
        add_test(NAME wine_image_bytes
            COMMAND ${PEMLO_WINE_TEST} ${CMAKE_CURRENT_SOURCE_DIR}/wine/image_probe.sh
                $<TARGET_FILE:pemlo_image_probe> ${PEMLO_WINDOWS_D3D_BIN}/tests/wine/image_probe.exe)
        set_tests_properties(wine_image_bytes PROPERTIES
            LABELS wine TIMEOUT 300)
    endif()
endfunction()
cmake_language(DEFER CALL pemlo_image_probe_wine_test)
