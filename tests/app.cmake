pemlo_test_dir(app pemlo_app)
