# Writing 1 GiB of IMX 50 as OP1a with the IMX writer, against ffmpeg's D-10 muxer on the same stream.
add_executable(bench_imx_writer ${CMAKE_CURRENT_LIST_DIR}/ImxWriterBench.cpp)
target_include_directories(bench_imx_writer PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(bench_imx_writer PRIVATE KORVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_link_libraries(bench_imx_writer PRIVATE korvo_writers)
