# Tests under Wine: the capture probes built by the two Windows configurations, run in
# the rig of tests/wine/rig.sh (Xvfb, a private Wine prefix, a PulseAudio null sink and
# a Wine virtual desktop). The Makefile passes both build folders.
set(PEMLO_WINDOWS_BIN "" CACHE PATH "Windows build capturing with GDI (build/windows-gdi)")
set(PEMLO_WINDOWS_D3D_BIN "" CACHE PATH "Windows build capturing with Direct3D 9 (build/windows)")
# One rig folder beside the build folders (build/wine-rig), so that every test under
# Wine shares the one template prefix that wineboot makes.
if(PEMLO_WINDOWS_BIN)
    get_filename_component(rig_default "${PEMLO_WINDOWS_BIN}/../wine-rig" ABSOLUTE)
else()
    set(rig_default "${CMAKE_BINARY_DIR}/wine-rig")
endif()
set(PEMLO_WINE_RIG_ROOT "${rig_default}" CACHE PATH
    "Folder for the Wine rig's template prefix and the tests' work folders")

set(wine_dir ${CMAKE_CURRENT_SOURCE_DIR}/wine)
if(PEMLO_WINDOWS_BIN)
    add_test(NAME wine_capture_gdi
             COMMAND bash ${wine_dir}/capture_probe.sh
                     ${PEMLO_WINDOWS_BIN}/tests/wine/capture_probe.exe)
    add_test(NAME wine_sound
             COMMAND bash ${wine_dir}/sound_probe.sh ${PEMLO_WINDOWS_BIN}/tests/wine/sound_probe.exe)
    # The same at 144 DPI: the program's manifest makes it DPI aware, so the capture
    # rectangle and the cursor stay in physical pixels.
    add_test(NAME wine_capture_gdi_144dpi
             COMMAND bash ${wine_dir}/capture_probe.sh
                     ${PEMLO_WINDOWS_BIN}/tests/wine/capture_probe.exe 144)
    set_tests_properties(wine_capture_gdi wine_capture_gdi_144dpi wine_sound PROPERTIES
        LABELS wine TIMEOUT 180 ENVIRONMENT "RIG_ROOT=${PEMLO_WINE_RIG_ROOT}")
endif()
if(PEMLO_WINDOWS_D3D_BIN)
    add_test(NAME wine_capture_d3d
             COMMAND bash ${wine_dir}/capture_probe.sh
                     ${PEMLO_WINDOWS_D3D_BIN}/tests/wine/capture_probe.exe)
    set_tests_properties(wine_capture_d3d PROPERTIES
        LABELS wine TIMEOUT 180 ENVIRONMENT "RIG_ROOT=${PEMLO_WINE_RIG_ROOT}")
endif()
