tarvo_add_bench(bench_send_report
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_send_report.cpp ${CMAKE_SOURCE_DIR}/sim/clocks.cpp
    LIBS tarvo_app Qt6::Widgets)
