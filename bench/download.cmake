# Download throughput: the download session against a bare libcurl loop
# (bench/download.sh serves the package from a loopback server).
qm_add_bench(download_bench download_bench.cpp)
