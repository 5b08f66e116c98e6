# End-to-end tests of the program under Wine (label `wine`). They need the Windows
# builds whose folders the Makefile passes in: PEMLO_WINDOWS_BIN (GDI screen source,
# used by the recordings) and PEMLO_WINDOWS_D3D_BIN (the product, Direct3D 9).
if(PEMLO_WINDOWS_BIN)
    foreach(script e2e_record e2e_refusals)
        add_test(NAME wine_app_${script}
            COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/${script}.sh ${PEMLO_WINDOWS_BIN})
        set_tests_properties(wine_app_${script} PROPERTIES LABELS "wine;peer;slow" TIMEOUT 400)
    endforeach()
endif()
if(PEMLO_WINDOWS_BIN)
    # A screen that changes everywhere recorded at 10 frames per second; the pace read
    # from the status bar.
    add_test(NAME wine_app_e2e_pace
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_pace.sh ${PEMLO_WINDOWS_BIN})
    set_tests_properties(wine_app_e2e_pace PROPERTIES LABELS "wine;peer;slow" TIMEOUT 400)
endif()
if(PEMLO_WINDOWS_BIN)
    # The process killed while recording and while processing; the next start's questions.
    add_test(NAME wine_app_e2e_recovery
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_recovery.sh ${PEMLO_WINDOWS_BIN})
    set_tests_properties(wine_app_e2e_recovery PROPERTIES LABELS "wine;peer;slow" TIMEOUT 600)
endif()
if(PEMLO_WINDOWS_BIN)
    # Sound in step with the picture over a minute, without and with a stall.
    add_test(NAME wine_app_e2e_sync
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_sync.sh ${PEMLO_WINDOWS_BIN})
    add_test(NAME wine_app_e2e_sync_stall
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_sync.sh ${PEMLO_WINDOWS_BIN} stall)
    set_tests_properties(wine_app_e2e_sync wine_app_e2e_sync_stall PROPERTIES
        LABELS "wine;peer;slow" TIMEOUT 400)
endif()
if(PEMLO_WINDOWS_BIN)
    # Pause and resume: ten cycles cut from picture and sound in step; the hot key's
    # rules, a pause at the start, and a recording killed while paused.
    add_test(NAME wine_app_e2e_pause
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_pause.sh ${PEMLO_WINDOWS_BIN})
    add_test(NAME wine_app_e2e_pause_keys
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_pause.sh ${PEMLO_WINDOWS_BIN} keys)
    set_tests_properties(wine_app_e2e_pause wine_app_e2e_pause_keys PROPERTIES
        LABELS "wine;peer;slow" TIMEOUT 400)
endif()
if(PEMLO_WINDOWS_BIN)
    # "Select area..." with the real pointer, at 96 DPI and on a display scaled to 150 %.
    add_test(NAME wine_app_e2e_select
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_select.sh ${PEMLO_WINDOWS_BIN})
    add_test(NAME wine_app_e2e_select_144dpi
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_select.sh ${PEMLO_WINDOWS_BIN} 144)
    set_tests_properties(wine_app_e2e_select wine_app_e2e_select_144dpi PROPERTIES
        LABELS "wine;peer;slow" TIMEOUT 400)
endif()
if(PEMLO_WINDOWS_D3D_BIN)
    add_test(NAME wine_app_e2e_product
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_product.sh ${PEMLO_WINDOWS_D3D_BIN})
    set_tests_properties(wine_app_e2e_product PROPERTIES LABELS "wine;peer;slow" TIMEOUT 400)
endif()
# Where this machine runs the 32-bit loader and wine64 too, the Makefile also builds the
# x86_64 program (build/windows64-gdi): one recording end to end under wine64 proves its
# own manifest and build, which the 32-bit tests never run.
set(PEMLO_WINDOWS64_ALSO_BIN "" CACHE PATH
    "x86_64 build (GDI capture) also tested under wine64 where both loaders run")
if(PEMLO_WINDOWS64_ALSO_BIN AND PEMLO_WINE_ARCH STREQUAL "32")
    get_filename_component(rig64 "${PEMLO_WINDOWS64_ALSO_BIN}/../wine-rig64" ABSOLUTE)
    add_test(NAME wine_app_e2e_record64
        COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/wine_test.sh 64
            "this machine runs wine64 too: its x86_64 build, once" ${rig64}
            ${CMAKE_SOURCE_DIR}/tests/wine/e2e_record.sh ${PEMLO_WINDOWS64_ALSO_BIN})
    set_tests_properties(wine_app_e2e_record64 PROPERTIES LABELS "wine;peer;slow" TIMEOUT 600)
endif()
if(PEMLO_WINDOWS_D3D_BIN)
    # The release zip unpacked into a read-only folder with spaces and accents in its
    # path, and a recording made from there: the program writes nothing beside itself.
    add_test(NAME wine_app_e2e_portable
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_portable.sh
            ${PEMLO_WINDOWS_D3D_BIN})
    set_tests_properties(wine_app_e2e_portable PROPERTIES LABELS "wine;peer;slow" TIMEOUT 400)
endif()
