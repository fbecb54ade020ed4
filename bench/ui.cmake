# The --ui measurement of tarnwell-bench (UiBench.cpp). bench/CMakeLists.txt
# includes this file and links tarnwell-bench with tarnwell_ui_bench; its main
# calls tarnwell::bench::runUiBench(argc, argv) for "--ui".
add_library(tarnwell_ui_bench STATIC
    ${CMAKE_CURRENT_LIST_DIR}/UiBench.cpp ${CMAKE_CURRENT_LIST_DIR}/UiBench.h)
target_link_libraries(tarnwell_ui_bench PUBLIC tarnwell_app)
