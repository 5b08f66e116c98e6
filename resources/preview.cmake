# The preview page template (400) and the player movie (401).
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The page's player is kept as plain script files (resources/player/) and written into
# the template at its @PEMLO_PLAYER_SCRIPT@ line, after the page's libraries (pinned in
# resources/player/package.json) bundled into one classic script, so that the page stays
# one file. The template is kept with LF line ends in the tree; the program carries it
# with CRLF.
set(preview_page_source ${CMAKE_CURRENT_LIST_DIR}/preview_page.html)
set(PEMLO_PLAYER_DIR ${CMAKE_CURRENT_LIST_DIR}/player)
set(PEMLO_PLAYER_SCRIPTS inflate.js screen_video.js adpcm.js flv.js saver.js player.js)
list(TRANSFORM PEMLO_PLAYER_SCRIPTS PREPEND ${PEMLO_PLAYER_DIR}/ OUTPUT_VARIABLE player_script_paths)
set(preview_page_crlf ${CMAKE_CURRENT_BINARY_DIR}/preview_page_crlf.html)
add_custom_command(OUTPUT ${preview_page_crlf}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/page/build_page.py
        ${preview_page_source} ${PEMLO_PLAYER_DIR} ${preview_page_crlf} ${PEMLO_PLAYER_SCRIPTS}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/page/build_page.py ${preview_page_source}
        ${player_script_paths} ${PEMLO_PLAYER_DIR}/bundle-entry.mjs
        ${PEMLO_PLAYER_DIR}/package-lock.json
    COMMENT "Writing the preview page template" VERBATIM)
add_custom_target(pemlo_preview_page ALL DEPENDS ${preview_page_crlf})

set(preview_movie ${CMAKE_CURRENT_BINARY_DIR}/PemloPreview.swf)
add_custom_command(OUTPUT ${preview_movie}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/swf/player.py ${preview_movie}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/swf/player.py ${CMAKE_SOURCE_DIR}/tools/swf/swf.py
    COMMENT "Writing the preview player movie" VERBATIM)
add_custom_target(pemlo_preview_movie ALL DEPENDS ${preview_movie})

set_property(GLOBAL APPEND PROPERTY PEMLO_GENERATED_RESOURCES ${preview_movie} ${preview_page_crlf})
