# The console window against the simulated tester, under a point and a comma locale.
kelvo_add_qtest(window_test SOURCES Window_test.cpp LIBS kelvo_console_ui kelvo_sim LABELS window)
set_tests_properties(window_test PROPERTIES ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;LC_ALL=en_US.UTF-8;KELVO_SCREENSHOT_DIR=${CMAKE_BINARY_DIR};XDG_RUNTIME_DIR=${CMAKE_CURRENT_BINARY_DIR}/window-runtime")
add_test(NAME window_test_de COMMAND window_test)
set_tests_properties(window_test_de PROPERTIES TIMEOUT 600 LABELS window ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;LC_ALL=de_DE.UTF-8;KELVO_SCREENSHOT_DIR=${CMAKE_BINARY_DIR}/de;XDG_RUNTIME_DIR=${CMAKE_CURRENT_BINARY_DIR}/window-runtime-de")

kelvo_add_test(window_inputs_test SOURCES Inputs_test.cpp LIBS kelvo_console_ui)

kelvo_add_qtest(window_session_test SOURCES WindowSession_test.cpp
  LIBS kelvo_console_ui kelvo_sim kelvo_test_fixtures LABELS window)
target_compile_definitions(window_session_test PRIVATE KELVO_SIM_PROGRAM="$<TARGET_FILE:kelvo-sim>")
add_dependencies(window_session_test kelvo-sim)
set_tests_properties(window_session_test PROPERTIES ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;LC_ALL=en_US.UTF-8;XDG_RUNTIME_DIR=${CMAKE_CURRENT_BINARY_DIR}/session-runtime")

# Connects refused for want of access, with the window run as the user nobody (skipped unless the
# test runs as root).
kelvo_add_qtest(window_port_access_test SOURCES PortAccess_test.cpp
  LIBS kelvo_console_ui kelvo_sim LABELS window)
