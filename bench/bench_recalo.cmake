# Ingests of an IMX 50 clip through the transfer service with libRecalo.so from a clip file, the browser's TCP
# block stream and the video server simulator, against cat and curl moving the same bytes.
add_executable(bench_recalo ${CMAKE_CURRENT_LIST_DIR}/RecaloBench.cpp)
target_link_libraries(bench_recalo PRIVATE korvo_writers korvo_browser korvo_rixsim korvo_tessan)
add_dependencies(bench_recalo Recalo)
target_compile_definitions(bench_recalo PRIVATE KORVO_RECALO_LIBRARY="$<TARGET_FILE:Recalo>")
