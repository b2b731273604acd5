# The test log on the real file system, under three locales: the C locale, a 12-hour clock with a
# decimal point, and a 24-hour clock with a decimal comma.
kelvo_add_test(app_testlog_test SOURCES TestLog_test.cpp
  LIBS kelvo_console_core kelvo_test_fixtures)
kelvo_run_in_locales(app_testlog_test)

# Failed writes: the shell limits the size of the files the program writes to one 512-byte
# block and ignores SIGXFSZ, which the program inherits, so writes past the limit fail (EFBIG)
# instead of ending it.
add_test(NAME app_testlog_test_file_limit
  COMMAND sh -c "trap '' XFSZ; ulimit -f 1; exec \"$0\" --gtest_filter=TestLogFileTest.Failed*"
    $<TARGET_FILE:app_testlog_test>)
set_tests_properties(app_testlog_test_file_limit PROPERTIES
  ENVIRONMENT "LC_ALL=C;KELVO_TEST_FILE_SIZE_LIMIT=512" TIMEOUT 600)
