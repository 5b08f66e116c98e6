# The release (`make dist`): its notices kept true, and the same bytes from a second
# build of the product in another folder. Both read the product's build
# (PEMLO_PRODUCT_BIN, build/windows): its link map and its exe.
if(PEMLO_PRODUCT_BIN)
    add_test(NAME release_notices
        COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/dist/check_notices.py
            ${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES
            --link-map ${PEMLO_PRODUCT_BIN}/app/PemloRecorder.map
            --package-json ${CMAKE_SOURCE_DIR}/resources/player/package.json)
    add_test(NAME release_notices_check_fails
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/release/notices_check_test.sh
            ${CMAKE_SOURCE_DIR} ${PEMLO_PRODUCT_BIN}/app/PemloRecorder.map)
    # Builds the exe once more, on every core (a minute or two on 2 cores).
    add_test(NAME release_reproducible
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/release/reproducible.sh ${CMAKE_SOURCE_DIR}
            ${PEMLO_PRODUCT_BIN} ${CMAKE_BINARY_DIR}/release-repro)
    set_tests_properties(release_notices release_notices_check_fails release_reproducible
        PROPERTIES LABELS release)
    set_tests_properties(release_reproducible PROPERTIES TIMEOUT 900 PROCESSORS 2)
endif()
# --version of the tools says the version in VERSION.
add_test(NAME release_tool_versions
    COMMAND bash -c "v=$(cat '${CMAKE_SOURCE_DIR}/VERSION') && \
        test \"$(\"$0\" --version)\" = \"pemlo-replay $v\" && \
        test \"$(\"$1\" --version)\" = \"pemlo-flvencode $v\""
        $<TARGET_FILE:pemlo-replay> $<TARGET_FILE:pemlo-flvencode>)
set_tests_properties(release_tool_versions PROPERTIES LABELS release)
