pemlo_test_dir(capture pemlo_capture)
