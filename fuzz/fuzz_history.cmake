tarvo_add_fuzzer(fuzz_history ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_history.cpp tarvo_catalogue)
