# The protocol description window and the About box (Qt Test, offscreen). The About box test
# carries the version block, as the program does.
kelvo_add_qtest(app_protoinfo_test SOURCES ProtoInfo_test.cpp LIBS kelvo_console_ui)

include(${PROJECT_SOURCE_DIR}/cmake/KelvoVersion.cmake)
kelvo_add_qtest(app_aboutbox_test SOURCES AboutBox_test.cpp LIBS kelvo_console_ui)
target_compile_definitions(app_aboutbox_test PRIVATE KELVO_TEST_FILE_VERSION="${PROJECT_VERSION}")
kelvo_embed_version(app_aboutbox_test)
