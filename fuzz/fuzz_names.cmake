tarvo_add_fuzzer(fuzz_names ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_names.cpp tarvo_catalogue)
