# The output phase runs its helpers in a task pool.
pemlo_test_dir(process pemlo_process THREADS OutputDriver SoundSync)
