qvn_add_bench(qvn_bench_state ${CMAKE_CURRENT_LIST_DIR}/StateBench.cpp)
