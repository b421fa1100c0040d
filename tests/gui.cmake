# Tests of the value texts, the tree rows, the text dump, the INI store and the main
# window.
add_executable(backup_tree_tests
  ${CMAKE_CURRENT_LIST_DIR}/test_CommonUtils.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_BackupTree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_DumpText.cpp
)
target_link_libraries(backup_tree_tests PRIVATE tarnwick_dump_text tarnwick_fixtures GTest::gtest GTest::gtest_main)
target_compile_definitions(backup_tree_tests PRIVATE TARNWICK_DUMP="$<TARGET_FILE:tarnwick-dump>")
add_dependencies(backup_tree_tests tarnwick-dump)
gtest_discover_tests(backup_tree_tests DISCOVERY_TIMEOUT 60)

if(TARNWICK_BUILD_APP)
  add_executable(inifile_tests ${CMAKE_CURRENT_LIST_DIR}/test_IniFile.cpp)
  target_link_libraries(inifile_tests PRIVATE tarnwick_inifile tarnwick_fixtures GTest::gtest GTest::gtest_main)
  gtest_discover_tests(inifile_tests DISCOVERY_TIMEOUT 60)

  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_executable(ufrmMain_tests ${CMAKE_CURRENT_LIST_DIR}/test_ufrmMain.cpp)
  set_target_properties(ufrmMain_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(ufrmMain_tests PRIVATE tarnwick_ui tarnwick_fixtures Qt6::Test)
  add_test(NAME ufrmMain_tests COMMAND ufrmMain_tests)
  # Headless, on any machine.
  set_tests_properties(ufrmMain_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
