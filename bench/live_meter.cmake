qvn_add_bench(qvn_bench_live_meter ${CMAKE_CURRENT_LIST_DIR}/LiveMeterBench.cpp)
