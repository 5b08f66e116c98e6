pemlo_test_dir(flv pemlo_flv THREADS ScreenVideo)

# Checks of our files by ffmpeg (label peer). They sit in their own program because
# they need ffmpeg, ffprobe and espeak-ng and take longer.
file(GLOB flv_peer_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/flv/peer/*.cpp)
if(flv_peer_sources)
    add_executable(pemlo_flv_peer_tests ${flv_peer_sources})
    target_link_libraries(pemlo_flv_peer_tests PRIVATE pemlo_flv GTest::gtest_main)
    target_compile_definitions(pemlo_flv_peer_tests PRIVATE
        PEMLO_SOURCE_DIR="${CMAKE_SOURCE_DIR}" PEMLO_BINARY_DIR="${CMAKE_BINARY_DIR}")
    add_dependencies(pemlo_flv_peer_tests pemlo-flvencode)
    gtest_discover_tests(pemlo_flv_peer_tests DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS peer TIMEOUT 600)
endif()
