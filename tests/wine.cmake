# Tests under Wine: the capture probes built by the two Windows configurations, run in
# the rig of tests/wine/rig.sh (Xvfb, a private Wine prefix, a PulseAudio null sink and
# a Wine virtual desktop). The Makefile passes both build folders: the 32-bit ones
# (build/windows-gdi, build/windows) where this machine runs the 32-bit Wine loader,
# else their x86_64 twins (build/windows64-gdi, build/windows64), run by wine64 alone.
set(PEMLO_WINDOWS_BIN "" CACHE PATH "Windows build capturing with GDI (build/windows-gdi)")
set(PEMLO_WINDOWS_D3D_BIN "" CACHE PATH "Windows build capturing with Direct3D 9 (build/windows)")
# Which Wine loader runs those builds (32, 64 or none) and why: tools/wine-arch.sh
# finds out, the Makefile passes its answer.
if(NOT DEFINED PEMLO_WINE_ARCH)
    execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/tools/wine-arch.sh
        OUTPUT_VARIABLE probe OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REGEX REPLACE " .*" "" arch "${probe}")
    string(REGEX REPLACE "^[^ ]* " "" why "${probe}")
    set(PEMLO_WINE_ARCH "${arch}" CACHE STRING "Wine loader of the tests: 32, 64 or none")
    set(PEMLO_WINE_WHY "${why}" CACHE STRING "Why that loader")
endif()
set(PEMLO_WINE_WHY "" CACHE STRING "Why that loader")
# One rig folder beside the build folders (build/wine-rig, or build/wine-rig64 for
# wine64), so that every test under Wine shares the one template prefix that wineboot
# makes, and 32-bit and 64-bit prefixes never mix.
set(rig_name wine-rig)
if(PEMLO_WINE_ARCH STREQUAL "64")
    set(rig_name wine-rig64)
endif()
if(PEMLO_WINDOWS_BIN)
    get_filename_component(rig_default "${PEMLO_WINDOWS_BIN}/../${rig_name}" ABSOLUTE)
else()
    set(rig_default "${CMAKE_BINARY_DIR}/${rig_name}")
endif()
set(PEMLO_WINE_RIG_ROOT "${rig_default}" CACHE PATH
    "Folder for the Wine rig's template prefix and the tests' work folders")
# Every test under Wine runs its script through this wrapper: its first line says
# which build runs under which loader and why.
set(PEMLO_WINE_TEST bash ${CMAKE_CURRENT_SOURCE_DIR}/wine/wine_test.sh "${PEMLO_WINE_ARCH}"
    "${PEMLO_WINE_WHY}" ${PEMLO_WINE_RIG_ROOT})

set(wine_dir ${CMAKE_CURRENT_SOURCE_DIR}/wine)
if(PEMLO_WINDOWS_BIN)
    add_test(NAME wine_capture_gdi
             COMMAND ${PEMLO_WINE_TEST} ${wine_dir}/capture_probe.sh
                     ${PEMLO_WINDOWS_BIN}/tests/wine/capture_probe.exe)
    add_test(NAME wine_sound
             COMMAND ${PEMLO_WINE_TEST} ${wine_dir}/sound_probe.sh ${PEMLO_WINDOWS_BIN}/tests/wine/sound_probe.exe)
    # The same at 144 DPI: the program's manifest makes it DPI aware, so the capture
    # rectangle and the cursor stay in physical pixels.
    add_test(NAME wine_capture_gdi_144dpi
             COMMAND ${PEMLO_WINE_TEST} ${wine_dir}/capture_probe.sh
                     ${PEMLO_WINDOWS_BIN}/tests/wine/capture_probe.exe 144)
    set_tests_properties(wine_capture_gdi wine_capture_gdi_144dpi wine_sound PROPERTIES
        LABELS wine TIMEOUT 180)
endif()
if(PEMLO_WINDOWS_D3D_BIN)
    add_test(NAME wine_capture_d3d
             COMMAND ${PEMLO_WINE_TEST} ${wine_dir}/capture_probe.sh
                     ${PEMLO_WINDOWS_D3D_BIN}/tests/wine/capture_probe.exe)
    set_tests_properties(wine_capture_d3d PROPERTIES
        LABELS wine TIMEOUT 180)
endif()
