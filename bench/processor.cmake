qvn_add_bench(qvn_bench_processor ${CMAKE_CURRENT_LIST_DIR}/ProcessorBench.cpp)
