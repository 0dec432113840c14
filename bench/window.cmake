# Start-up, responsiveness and memory of the main window (bench/window.sh).
qm_add_bench(probe ${CMAKE_CURRENT_LIST_DIR}/probe.cpp ${CMAKE_CURRENT_LIST_DIR}/window_probe.cpp)

# The start-up baseline stands alone: a window program with nothing of ours.
add_executable(minimal_window WIN32 ${CMAKE_CURRENT_LIST_DIR}/minimal_window.cpp)
target_link_options(minimal_window PRIVATE -municode)
set_target_properties(minimal_window PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QM_BENCH_DIR})
add_dependencies(benchmarks minimal_window)
