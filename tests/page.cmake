# The preview page: the tests of tests/app read the generated movie and template, and
# the page is played for real in headless Chromium with Ruffle (label peer, browser).
if(TARGET pemlo_app_tests AND TARGET pemlo_preview_movie)
    add_dependencies(pemlo_app_tests pemlo_preview_movie)
endif()
if(TARGET pemlo_app_tests)
    target_link_libraries(pemlo_app_tests PRIVATE ZLIB::ZLIB)
endif()

add_executable(pemlo_publish_page ${CMAKE_CURRENT_LIST_DIR}/page/publish_page.cpp)
target_link_libraries(pemlo_publish_page PRIVATE pemlo_app)
add_dependencies(pemlo_publish_page pemlo_preview_movie)

# The FLV is written by this tree's encoder tool when the build has it (the tools are
# added after the tests, hence the generator expression).
set(page_test_encoder
    "$<$<TARGET_EXISTS:pemlo-flvencode>:$<TARGET_FILE:pemlo-flvencode>>")
add_test(NAME page_plays_in_browser
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/page/run_page_test.sh
        $<TARGET_FILE:pemlo_publish_page> ${CMAKE_BINARY_DIR}/resources
        ${CMAKE_BINARY_DIR}/page-test ${page_test_encoder})
set_tests_properties(page_plays_in_browser PROPERTIES LABELS "peer;browser" TIMEOUT 300)
