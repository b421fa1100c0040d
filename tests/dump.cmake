# tarnwick-dump, run as a user runs it, on files the fixture builder writes.
find_package(nlohmann_json 3 REQUIRED)
add_executable(dump_tests ${CMAKE_CURRENT_LIST_DIR}/test_DumpJson.cpp ${CMAKE_SOURCE_DIR}/cli/uDumpJson.cpp)
target_include_directories(dump_tests PRIVATE ${CMAKE_SOURCE_DIR}/cli)
target_link_libraries(dump_tests PRIVATE tarnwick_fixtures nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
target_compile_definitions(dump_tests PRIVATE TARNWICK_DUMP="$<TARGET_FILE:tarnwick-dump>")
add_dependencies(dump_tests tarnwick-dump)
gtest_discover_tests(dump_tests DISCOVERY_TIMEOUT 60)
