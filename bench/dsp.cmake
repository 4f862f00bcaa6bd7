find_package(PkgConfig REQUIRED)
pkg_check_modules(QVN_BENCH_EBUR128 REQUIRED IMPORTED_TARGET libebur128)

qvn_add_bench(qvn_bench_loudness ${CMAKE_CURRENT_LIST_DIR}/LoudnessBench.cpp)
target_link_libraries(qvn_bench_loudness PRIVATE PkgConfig::QVN_BENCH_EBUR128)
