# Reading the video of a 1 GiB IMX 50 D-10 file with the OP1a picture reader, against ffmpeg's demuxer.
add_executable(bench_mxf ${CMAKE_CURRENT_LIST_DIR}/MxfBench.cpp)
target_include_directories(bench_mxf PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_mxf PRIVATE korvo_reading)
