# The program that drives the recorder's dialogs in the end-to-end tests.
add_executable(pemlo_e2e_driver ${CMAKE_CURRENT_LIST_DIR}/e2e_driver.cpp)
target_link_libraries(pemlo_e2e_driver PRIVATE user32 gdi32 comctl32)
