# Test programs of both lanes. googletest is built from Debian's sources so that both lanes use
# the same one; windows-lane programs run under Wine through the emulator wrapper.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

set(ZARVO_TEST_PROPERTIES)
if(WIN32)
  set(ZARVO_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  set(wine_env "WINEPREFIX=${ZARVO_WINEPREFIX};WINEDEBUG=-all;LANG=C.UTF-8;PATH=/usr/lib/wine:$ENV{PATH}")
  # Warms one wineserver for all tests, with detached streams, and stops it at the end.
  add_test(NAME wine.start COMMAND sh -c "'${CMAKE_CROSSCOMPILING_EMULATOR}' cmd /c exit 0 </dev/null >/dev/null 2>&1")
  add_test(NAME wine.stop COMMAND sh -c "wineserver -k 2>/dev/null; wineserver -w; exit 0")
  set_tests_properties(wine.start wine.stop PROPERTIES ENVIRONMENT "${wine_env}")
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
  # The emulator wrapper finds the prefix by itself; scripts that call Wine directly also get
  # ZARVO_WINE_ENV (a list, so it is passed whole: set_tests_properties(... ENVIRONMENT "${...}")).
  set(ZARVO_TEST_PROPERTIES FIXTURES_REQUIRED wine)
  set(ZARVO_WINE_ENV "${wine_env}")
endif()

# zarvo_add_gtest(<target> <sources...>): a googletest program discovered into CTest.
function(zarvo_add_gtest target)
  add_executable(${target} ${ARGN})
  zarvo_compile_options(${target})
  target_include_directories(${target} PRIVATE ${ZARVO_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE zarvo_test_support zarvo_setup GTest::gtest_main)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ${ZARVO_TEST_PROPERTIES})
endfunction()

# Crafted archives and a second reading of them; zlib deflates and checks what they hold.
add_library(zarvo_test_support STATIC
  ${ZARVO_SOURCE_DIR}/tests/support/reference_zip.cpp
  ${ZARVO_SOURCE_DIR}/tests/support/stand_in_record.cpp
  ${ZARVO_SOURCE_DIR}/tests/support/zip_builder.cpp)
zarvo_compile_options(zarvo_test_support)
target_include_directories(zarvo_test_support PUBLIC ${ZARVO_SOURCE_DIR}/tests)
target_link_libraries(zarvo_test_support PUBLIC zarvo_setup GTest::gtest PRIVATE ZLIB::ZLIB)
# Whether this build replaces the global operator new (cmake/global-new.cmake); the tests of the
# out-of-memory report need the replacement.
target_compile_definitions(zarvo_test_support PUBLIC ZARVO_GLOBAL_NEW_REPLACED=$<BOOL:${ZARVO_REPLACE_GLOBAL_NEW}>)

set(unit_sources
  archive_open_test.cpp
  central_directory_test.cpp
  command_line_test.cpp
  console_buffer_test.cpp
  console_input_test.cpp
  console_utf8_test.cpp
  directory_walk_test.cpp
  entry_name_test.cpp
  entry_path_test.cpp
  entry_test.cpp
  error_test.cpp
  fatal_report_test.cpp
  setup_run_test.cpp
  sleep_duration_test.cpp
  text_test.cpp
  utf8_test.cpp
  windows_rules_test.cpp)
if(NOT WIN32)
  list(APPEND unit_sources posix_path_test.cpp)  # the host lane's own path rules
endif()
list(TRANSFORM unit_sources PREPEND ${ZARVO_SOURCE_DIR}/tests/unit/)
zarvo_add_gtest(unit_tests ${unit_sources})

# Against the real system of the lane (Wine for windows): the platform backends, and the payload,
# process and setup code on them.
set(system_sources
  child_test.cpp
  console_fixture_runner.cpp
  console_test.cpp
  extract_test.cpp
  fatal_stop_test.cpp
  fs_test.cpp
  global_new_test.cpp
  process_harness.cpp
  runtime_test.cpp
  work_directory_test.cpp)
if(WIN32)
  list(APPEND system_sources
    windows/child_capture.cpp
    windows/fs_windows_test.cpp
    windows/native_test.cpp
    windows/process_harness.cpp)
else()
  list(APPEND system_sources
    posix/child_capture.cpp
    posix/process_harness.cpp)
endif()
list(TRANSFORM system_sources PREPEND ${ZARVO_SOURCE_DIR}/tests/system/)
zarvo_add_gtest(system_tests ${system_sources})
if(WIN32)
  target_link_libraries(system_tests PRIVATE shell32)
endif()

foreach(dir fixtures console e2e release payload race layers faults)
  if(EXISTS ${ZARVO_SOURCE_DIR}/tests/${dir}/CMakeLists.txt)
    add_subdirectory(${ZARVO_SOURCE_DIR}/tests/${dir} ${CMAKE_BINARY_DIR}/tests/${dir})
  endif()
endforeach()

# Opening time against the number of end records (a benchmark, not a test: build/host/open_bench).
if(NOT WIN32)
  add_executable(open_bench ${ZARVO_SOURCE_DIR}/bench/open_bench.cpp)
  zarvo_compile_options(open_bench)
  target_link_libraries(open_bench PRIVATE zarvo_test_support zarvo_setup libzip::zip)  # times the library alone too
endif()

# The packer and the libzip build script are host tools; their tests run in the host lane.
if(NOT WIN32)
  add_test(NAME tools.pack_payload COMMAND ${Python3_EXECUTABLE} ${ZARVO_SOURCE_DIR}/tests/tools/pack_payload_test.py)
  add_test(NAME tools.pack_payload_time COMMAND ${Python3_EXECUTABLE} ${ZARVO_SOURCE_DIR}/tests/tools/pack_payload_time_test.py)
  add_test(NAME tools.libzip_pin COMMAND ${Python3_EXECUTABLE} ${ZARVO_SOURCE_DIR}/tests/tools/libzip_pin_test.py)
endif()
