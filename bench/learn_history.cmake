qvn_add_bench(qvn_bench_learn_history ${CMAKE_CURRENT_LIST_DIR}/LearnHistoryBench.cpp)
