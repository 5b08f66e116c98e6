# Icons and banner of the main dialog, drawn by resources/app_art.py at build time, and
# the manifest.
set(PEMLO_ART_DIR ${CMAKE_CURRENT_BINARY_DIR}/art)
set(PEMLO_ART_FILES ${PEMLO_ART_DIR}/app_large.ico ${PEMLO_ART_DIR}/app_small.ico
    ${PEMLO_ART_DIR}/banner.bmp)
if(WIN32)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    add_custom_command(OUTPUT ${PEMLO_ART_FILES}
        COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/app_art.py ${PEMLO_ART_DIR}
        DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app_art.py
        COMMENT "Drawing the icons and the banner")
    # The manifest names the build's own processor architecture: a 64-bit program that
    # asked for the 32-bit Common Controls would not start.
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(PEMLO_MANIFEST_ARCH amd64)
    else()
        set(PEMLO_MANIFEST_ARCH X86)
    endif()
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/app.manifest.in
        ${CMAKE_CURRENT_BINARY_DIR}/app.manifest @ONLY)
    set_property(GLOBAL APPEND PROPERTY PEMLO_GENERATED_RESOURCES ${PEMLO_ART_FILES}
        ${CMAKE_CURRENT_BINARY_DIR}/app.manifest)
endif()
