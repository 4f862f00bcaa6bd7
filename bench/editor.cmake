qvn_add_bench(qvn_bench_editor ${CMAKE_CURRENT_LIST_DIR}/EditorBench.cpp)
