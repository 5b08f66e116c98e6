# The preview page: the tests of tests/app read the generated movie and template, and
# the page is played for real in headless Chromium with Ruffle (label peer, browser).
if(TARGET pemlo_app_tests AND TARGET pemlo_preview_movie)
    add_dependencies(pemlo_app_tests pemlo_preview_movie pemlo_preview_page)
endif()
if(TARGET pemlo_app_tests)
    target_link_libraries(pemlo_app_tests PRIVATE ZLIB::ZLIB)
endif()

add_executable(pemlo_publish_page ${CMAKE_CURRENT_LIST_DIR}/page/publish_page.cpp)
target_link_libraries(pemlo_publish_page PRIVATE pemlo_app)
add_dependencies(pemlo_publish_page pemlo_preview_movie pemlo_preview_page)

# The FLV is written by this tree's encoder tool when the build has it (the tools are
# added after the tests, hence the generator expression).
set(page_test_encoder
    "$<$<TARGET_EXISTS:pemlo-flvencode>:$<TARGET_FILE:pemlo-flvencode>>")
add_test(NAME page_plays_in_browser
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/page/run_page_test.sh
        $<TARGET_FILE:pemlo_publish_page> ${CMAKE_BINARY_DIR}/resources
        ${CMAKE_BINARY_DIR}/page-test ${page_test_encoder})
set_tests_properties(page_plays_in_browser PROPERTIES LABELS "peer;browser" TIMEOUT 300)

# The page's own player from file:// in headless Chromium, against ffmpeg's decode.
add_test(NAME page_player_from_disk
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/page/run_player_test.sh
        $<TARGET_FILE:pemlo_publish_page> ${CMAKE_BINARY_DIR}/resources
        ${CMAKE_BINARY_DIR}/page-player-test ${CMAKE_BINARY_DIR}/tools)
set_tests_properties(page_player_from_disk PROPERTIES LABELS "peer;browser" TIMEOUT 600)

# Under Wine: the resources as the Windows program writes them (after tests/wine.cmake
# has set up the rig's settings).
function(pemlo_page_wine_test)
    if(PEMLO_WINDOWS_BIN)
        add_test(NAME wine_preview_resources
            COMMAND ${PEMLO_WINE_TEST} ${CMAKE_CURRENT_SOURCE_DIR}/page/preview_probe.sh
                ${PEMLO_WINDOWS_BIN}/tests/wine/preview_probe.exe ${CMAKE_BINARY_DIR}/resources)
        set_tests_properties(wine_preview_resources PROPERTIES
            LABELS wine TIMEOUT 180)
    endif()
endfunction()
cmake_language(DEFER CALL pemlo_page_wine_test)

# "Save as MP4" from the page in headless Chromium and Firefox ESR from file://, each
# download checked with ffprobe and ffmpeg against the FLV. It tests the page's scripts,
# not native code, so the sanitizer tree leaves it out (its replay of five minutes of
# 1280 x 720 would only be slower there).
if(NOT PEMLO_SANITIZE)
    add_test(NAME page_saves_mp4
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/page/run_save_test.sh
            $<TARGET_FILE:pemlo_publish_page> ${CMAKE_BINARY_DIR}/resources
            ${CMAKE_BINARY_DIR}/page-save-test ${CMAKE_BINARY_DIR}/tools)
    set_tests_properties(page_saves_mp4 PROPERTIES LABELS "peer;browser" TIMEOUT 900)
endif()

# The page's inflate against node's zlib, whole and damaged streams.
add_test(NAME page_inflate_checks COMMAND node ${CMAKE_CURRENT_LIST_DIR}/page/inflate_test.js)
set_tests_properties(page_inflate_checks PROPERTIES TIMEOUT 60)
