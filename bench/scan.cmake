# The scan pipeline against bare zlib, libcurl and TinyXML (bench/scan.sh runs it).
qm_add_bench(bench_scan ${CMAKE_CURRENT_LIST_DIR}/scan_bench.cpp)
target_link_libraries(bench_scan PRIVATE psapi)
