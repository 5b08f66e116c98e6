pemlo_test_dir(app pemlo_app)

# The product's manifest and version information, read back from the built program: the
# 32-bit product (build/windows), also where the tests under Wine run the x86_64 build.
set(PEMLO_PRODUCT_BIN "${PEMLO_WINDOWS_D3D_BIN}" CACHE PATH "The product's build (build/windows)")
if(PEMLO_PRODUCT_BIN)
    add_test(NAME product_resources
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/app/product_resources.sh
            ${PEMLO_PRODUCT_BIN}/app/PemloRecorder.exe)
endif()
