# 8 MB blocks through the TCP block stream and through the server block reader from the video server simulator,
# against curl downloading the same bytes from the simulator.
add_executable(bench_receiver ${CMAKE_CURRENT_LIST_DIR}/ReceiverBench.cpp)
target_link_libraries(bench_receiver PRIVATE korvo_receiver korvo_browser korvo_writers korvo_rixsim)
