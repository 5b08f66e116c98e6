# The preview page template (400) and the player movie (401).
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The page's player is kept as plain script files (resources/player/) and written into
# the template at its @PEMLO_PLAYER_SCRIPT@ line, so that the page stays one file. The
# template is kept with LF line ends in the tree; the program carries it with CRLF.
set(preview_page_source ${CMAKE_CURRENT_LIST_DIR}/preview_page.html)
set(PEMLO_PLAYER_SCRIPTS inflate.js screen_video.js adpcm.js flv.js player.js)
set(PEMLO_PLAYER_SCRIPT "")
foreach(script ${PEMLO_PLAYER_SCRIPTS})
    file(READ ${CMAKE_CURRENT_LIST_DIR}/player/${script} script_text)
    string(APPEND PEMLO_PLAYER_SCRIPT "${script_text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${CMAKE_CURRENT_LIST_DIR}/player/${script})
endforeach()
string(REPLACE "\r\n" "\n" PEMLO_PLAYER_SCRIPT "${PEMLO_PLAYER_SCRIPT}")
string(REGEX REPLACE "\n$" "" PEMLO_PLAYER_SCRIPT "${PEMLO_PLAYER_SCRIPT}")
set(preview_page_crlf ${CMAKE_CURRENT_BINARY_DIR}/preview_page_crlf.html)
file(READ ${preview_page_source} preview_page_text)
string(REPLACE "\r\n" "\n" preview_page_text "${preview_page_text}")
string(REPLACE "@PEMLO_PLAYER_SCRIPT@" "${PEMLO_PLAYER_SCRIPT}" preview_page_text
       "${preview_page_text}")
# Written only when it changes, so that the resources are rebuilt only then.
file(CONFIGURE OUTPUT ${preview_page_crlf} CONTENT "${preview_page_text}" @ONLY
     NEWLINE_STYLE CRLF)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${preview_page_source})

set(preview_movie ${CMAKE_CURRENT_BINARY_DIR}/PemloPreview.swf)
add_custom_command(OUTPUT ${preview_movie}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/swf/player.py ${preview_movie}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/swf/player.py ${CMAKE_SOURCE_DIR}/tools/swf/swf.py
    COMMENT "Writing the preview player movie" VERBATIM)
add_custom_target(pemlo_preview_movie ALL DEPENDS ${preview_movie})

set_property(GLOBAL APPEND PROPERTY PEMLO_GENERATED_RESOURCES ${preview_movie} ${preview_page_crlf})
