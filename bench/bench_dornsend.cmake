# Playouts of an IMX 50 composition through the transfer service with libDornsend.so to a Parvex clip file and to
# the video server simulator, against cp and curl moving the same bytes.
add_executable(bench_dornsend ${CMAKE_CURRENT_LIST_DIR}/DornsendBench.cpp)
target_link_libraries(bench_dornsend PRIVATE korvo_rixsim korvo_tessan)
add_dependencies(bench_dornsend Dornsend)
target_compile_definitions(bench_dornsend PRIVATE KORVO_DORNSEND_LIBRARY="$<TARGET_FILE:Dornsend>")
