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

# kelvo_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Declares a GoogleTest program and registers it with CTest. The label "threads" marks the
# tests that the ThreadSanitizer build runs.
function(kelvo_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS "${T_LABELS}")
endfunction()
