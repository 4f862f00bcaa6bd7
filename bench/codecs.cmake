qvn_add_bench(qvn_bench_codecs ${CMAKE_CURRENT_LIST_DIR}/StateCodecsBench.cpp)
