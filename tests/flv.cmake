pemlo_test_dir(flv pemlo_flv)
