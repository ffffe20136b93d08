# FTP download and upload of 1 GiB through pyftpdlib on loopback, against curl.
add_executable(bench_ftp ${CMAKE_CURRENT_LIST_DIR}/FtpBench.cpp ${PROJECT_SOURCE_DIR}/tests/support/PyFtpServer.cpp)
target_include_directories(bench_ftp PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_ftp PRIVATE korvo_ftp)
