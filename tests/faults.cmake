# Faults injected through the file seam into a whole recording (spools, FLV, thumbnail).
pemlo_test_dir(faults pemlo_process THREADS FileFaults)
