qvn_add_bench(qvn_bench_editor_tick ${CMAKE_CURRENT_LIST_DIR}/EditorTickBench.cpp)
