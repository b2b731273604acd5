# Build settings shared by every target, and the one helper that declares a test.

add_compile_options(-Wall -Wextra -Wpedantic)
if(KELVO_WERROR)
  add_compile_options(-Werror)
endif()

if(KELVO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KELVO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KELVO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KELVO_SANITIZE must be empty, 'address' or 'thread'")
endif()

# Test programs are named <layer>_<unit>_test: the folder under tests/ and the unit's name in
# snake_case (tests/device/SerialLink_test.cpp is device_serial_link_test). CTest tests take the
# program's name, and a variant of one adds a suffix (_en_US, _de_DE, _file_limit).

# kelvo_label_programs(<target> <labels...>)
# Records that tests with these labels run the program <target>. kelvo_add_label_targets() turns
# the records into one target per label, label_<label>, that builds exactly those programs, and a
# file <build>/labels/<label>.programs that names their files one per line: a build of one label
# (the ThreadSanitizer and fuzz builds of scripts/test, scripts/fuzz) needs no list of its own.
# The test helpers below record their labels; a test declared by hand records its own.
function(kelvo_label_programs target)
  foreach(label IN LISTS ARGN)
    set_property(GLOBAL APPEND PROPERTY KELVO_LABELS ${label})
    set_property(GLOBAL APPEND PROPERTY KELVO_LABEL_PROGRAMS_${label} ${target})
  endforeach()
endfunction()

# kelvo_add_label_targets()
# Called once, by the top-level CMakeLists.txt after every folder has declared its tests.
function(kelvo_add_label_targets)
  get_property(labels GLOBAL PROPERTY KELVO_LABELS)
  list(REMOVE_DUPLICATES labels)
  foreach(label IN LISTS labels)
    get_property(programs GLOBAL PROPERTY KELVO_LABEL_PROGRAMS_${label})
    list(REMOVE_DUPLICATES programs)
    add_custom_target(label_${label})
    add_dependencies(label_${label} ${programs})
    set(files "")
    foreach(program IN LISTS programs)
      string(APPEND files "$<TARGET_FILE:${program}>\n")
    endforeach()
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/labels/${label}.programs CONTENT "${files}")
  endforeach()
endfunction()

# kelvo_add_test(<name> [QT_MAIN] SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Declares a GoogleTest program and registers it with CTest. QT_MAIN gives the program a main()
# that creates an application object, for tests of posted messages. The label "threads" marks
# the tests that the ThreadSanitizer build builds and runs.
function(kelvo_add_test name)
  cmake_parse_arguments(T "QT_MAIN" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_QT_MAIN)
    target_link_libraries(${name} PRIVATE kelvo_qt_test_main)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS "${T_LABELS}")
  kelvo_label_programs(${name} ${T_LABELS})
endfunction()

# kelvo_add_qtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Declares a Qt Test program (its source ends with QTEST_MAIN) for widgets; it runs on the
# offscreen platform.
function(kelvo_add_qtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  find_package(Qt6 REQUIRED COMPONENTS Test Widgets)
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test Qt6::Widgets)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  kelvo_label_programs(${name} ${T_LABELS})
endfunction()

# kelvo_run_in_locales(<test>)
# Runs the test program <test> under LC_ALL=C, and once more under each of en_US.UTF-8 (a 12-hour
# clock, a decimal point) and de_DE.UTF-8 (a 24-hour clock, a decimal comma), as <test>_en_US and
# <test>_de_DE.
function(kelvo_run_in_locales test)
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "LC_ALL=C")
  foreach(locale en_US de_DE)
    add_test(NAME ${test}_${locale} COMMAND ${test})
    set_tests_properties(${test}_${locale} PROPERTIES
      ENVIRONMENT "LC_ALL=${locale}.UTF-8" TIMEOUT 600)
  endforeach()
endfunction()

# kelvo_keep_tests_off_user_data()
# Called at the end of a test folder whose programs may record verdicts: each of its tests gets a
# data folder of its own (XDG_DATA_HOME), so that nothing a test records reaches the register of
# the user who runs the tests.
function(kelvo_keep_tests_off_user_data)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS tests)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
      "XDG_DATA_HOME=${CMAKE_CURRENT_BINARY_DIR}/user-data/${test}")
  endforeach()
endfunction()
