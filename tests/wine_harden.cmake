# Hardening tests under Wine (labels `wine`, `slow`): recordings ended at many moments of
# the output phase, and an output folder that fills up. They need the GDI-source Windows
# build (PEMLO_WINDOWS_BIN). The full sweep is run by hand:
#   bash tests/wine/e2e_cancel_sweep.sh build/windows-gdi 36   (build/windows64-gdi where
#   only wine64 runs)
if(PEMLO_WINDOWS_BIN)
    add_test(NAME wine_harden_cancel_sweep
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_cancel_sweep.sh ${PEMLO_WINDOWS_BIN} 6)
    set_tests_properties(wine_harden_cancel_sweep PROPERTIES LABELS "wine;peer;slow" TIMEOUT 400)
endif()
if(PEMLO_WINDOWS_BIN)
    # Mounts a small tmpfs (root only); skipped with exit code 77 where it cannot.
    add_test(NAME wine_harden_diskfull
        COMMAND ${PEMLO_WINE_TEST} ${CMAKE_SOURCE_DIR}/tests/wine/e2e_diskfull.sh ${PEMLO_WINDOWS_BIN})
    set_tests_properties(wine_harden_diskfull PROPERTIES LABELS "wine;slow" TIMEOUT 300
        SKIP_RETURN_CODE 77)
endif()
