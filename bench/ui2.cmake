qvn_add_bench(qvn_bench_ui2 ${CMAKE_CURRENT_LIST_DIR}/Ui2Bench.cpp)
