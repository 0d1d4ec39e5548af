# make_release: writes a generated release pair (IMG.bin, FW.bin) for the demo
# and for the built-in release in resources/TFW.
add_executable(make_release ${CMAKE_CURRENT_SOURCE_DIR}/programs/make_release.cpp)
target_link_libraries(make_release PRIVATE tarvo_sim)
tarvo_warnings(make_release)

# Debian's cpp-httplib is a compiled library; its pkg-config flags also carry the
# feature macros that fix the layout of its classes, so they must match the library.
