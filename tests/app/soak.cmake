# The console under a long run of faults. CTest runs a short soak (200 connections, a few
# readings each); scripts/soak runs a long one and prints its figures.
# It is started first (COST): the other tests run beside it.
find_package(Qt6 REQUIRED COMPONENTS Test Widgets)
add_executable(console_soak ConsoleSoak.cpp SoakTap.cpp)
target_link_libraries(console_soak PRIVATE kelvo_console_ui kelvo_sim kelvo_test_fixtures Qt6::Test Qt6::Widgets)
add_test(NAME console_soak COMMAND console_soak --cycles 200 --readings 3)
set_tests_properties(console_soak PROPERTIES TIMEOUT 900 COST 1000 LABELS "soak;window" ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;LC_ALL=en_US.UTF-8;XDG_RUNTIME_DIR=${CMAKE_CURRENT_BINARY_DIR}/soak-runtime")
