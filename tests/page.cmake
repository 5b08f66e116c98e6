# The preview page: the tests of tests/app read the generated movie and template.
if(TARGET pemlo_app_tests AND TARGET pemlo_preview_movie)
    add_dependencies(pemlo_app_tests pemlo_preview_movie)
endif()
if(TARGET pemlo_app_tests)
    target_link_libraries(pemlo_app_tests PRIVATE ZLIB::ZLIB)
endif()
