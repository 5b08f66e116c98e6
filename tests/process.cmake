pemlo_test_dir(process pemlo_process)
