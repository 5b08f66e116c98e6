# The output phase runs on two threads (the output driver and its helper thread).
pemlo_test_dir(process pemlo_process THREADS HelperThread OutputDriver SoundSync)
