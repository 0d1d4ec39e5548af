# tarvo-remote-demo: the real window on the simulated platform (virtual
# controller, loopback firmware server, bootloader volume). Not installed.
file(GLOB TARVO_DEMO_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/demo/*.cpp
     ${CMAKE_CURRENT_SOURCE_DIR}/demo/*.h)
add_executable(tarvo-remote-demo ${TARVO_DEMO_SOURCES} $<TARGET_OBJECTS:tarvo_sanitizer_defaults>)
target_link_libraries(tarvo-remote-demo PRIVATE tarvo_app tarvo_sim Qt6::Widgets)
tarvo_warnings(tarvo-remote-demo)
