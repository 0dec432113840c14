# Backup and restore of a large driver package against bare minizip.
qm_add_bench(backup_bench backup_bench.cpp backup_baseline.cpp)
