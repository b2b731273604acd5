# The port list and its hot-plug sources. The program gets a runtime folder of its own
# (XDG_RUNTIME_DIR) for the virtual port folder, so it never touches the user's ports.
kelvo_add_qtest(app_port_list_test SOURCES PortList_test.cpp LIBS kelvo_console_ui kelvo_sim)
set_tests_properties(app_port_list_test PROPERTIES ENVIRONMENT_MODIFICATION
  "XDG_RUNTIME_DIR=set:${CMAKE_CURRENT_BINARY_DIR}/kelvo-test-runtime-app_port_list_test")
