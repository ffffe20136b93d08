# Video of a 2 GiB Parvex clip read through the video reader, against dd with direct I/O on the same file.
add_executable(bench_parvex ${CMAKE_CURRENT_LIST_DIR}/ParvexBench.cpp)
target_link_libraries(bench_parvex PRIVATE korvo_reading korvo_writers)
