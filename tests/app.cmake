pemlo_test_dir(app pemlo_app THREADS RecorderState)

# The product's manifest and version information, read back from the built program.
if(PEMLO_WINDOWS_D3D_BIN)
    add_test(NAME product_resources
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/app/product_resources.sh
            ${PEMLO_WINDOWS_D3D_BIN}/app/PemloRecorder.exe)
endif()
