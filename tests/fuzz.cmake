# The fuzz target's entry replayed once over the corpus and over every input that ever
# failed, in each build (under the sanitizers in the asan one), and the damage tests.
set(TARNWICK_FUZZ_DIR ${CMAKE_SOURCE_DIR}/fuzz)

add_executable(fuzz_replay
  ${TARNWICK_FUZZ_DIR}/replay_Corpus.cpp
  ${TARNWICK_FUZZ_DIR}/fuzz_MTFReader.cpp
  ${TARNWICK_FUZZ_DIR}/uReaderInvariants.cpp
  ${TARNWICK_FUZZ_DIR}/uAllocationWatch.cpp
)
target_include_directories(fuzz_replay PRIVATE ${TARNWICK_FUZZ_DIR})
target_link_libraries(fuzz_replay PRIVATE tarnwick_reader tarnwick_common)
add_test(NAME fuzz.corpus_replay
         COMMAND fuzz_replay ${TARNWICK_FUZZ_DIR}/seeds ${TARNWICK_FUZZ_DIR}/corpus ${TARNWICK_FUZZ_DIR}/regressions)

# Writes the seed corpus (fuzz/seeds) from the fixture builder.
add_executable(fuzz_make_corpus ${TARNWICK_FUZZ_DIR}/make_Corpus.cpp)
target_link_libraries(fuzz_make_corpus PRIVATE tarnwick_fixtures)

# A valid generated backup damaged systematically, each damaged file also read through
# the fuzz target's checks.
add_executable(damage_tests
  test_Damage.cpp
  ${TARNWICK_FUZZ_DIR}/uReaderInvariants.cpp
  ${TARNWICK_FUZZ_DIR}/uAllocationWatch.cpp
)
target_include_directories(damage_tests PRIVATE ${TARNWICK_FUZZ_DIR})
target_link_libraries(damage_tests PRIVATE tarnwick_fixtures GTest::gtest GTest::gtest_main)
gtest_discover_tests(damage_tests DISCOVERY_TIMEOUT 60)
