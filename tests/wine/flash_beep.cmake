# The flash-and-beep scene of the sound-sync tests.
add_executable(pemlo_flash_beep ${CMAKE_CURRENT_LIST_DIR}/flash_beep.cpp)
target_link_libraries(pemlo_flash_beep PRIVATE user32 gdi32 winmm)
