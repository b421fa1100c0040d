# Tests of the about box, the update windows and the upgrade component. The update tests
# talk to a small HTTP server of their own on 127.0.0.1.
if(TARGET tarnwick_updates)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  foreach(unit uDialogs ufrmAbout ufrmWebUpdateInformation AutoUpgrader ufrmCheckForUpdates)
    set(test test_${unit})
    if(NOT EXISTS ${CMAKE_CURRENT_LIST_DIR}/${test}.cpp)
      continue()
    endif()
    add_executable(${test} ${CMAKE_CURRENT_LIST_DIR}/${test}.cpp
                           ${CMAKE_CURRENT_LIST_DIR}/uLoopbackHttpServer.h
                           ${CMAKE_CURRENT_LIST_DIR}/uUpdateTestSupport.h)
    set_target_properties(${test} PROPERTIES AUTOMOC ON)
    target_include_directories(${test} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
    target_compile_definitions(${test} PRIVATE TARNWICK_TEST_PROJECT_VERSION="${PROJECT_VERSION}")
    target_link_libraries(${test} PRIVATE tarnwick_updates Qt6::Test)
    if(unit STREQUAL "AutoUpgrader" AND TARGET tarnwick-sign)
      # The component's tests also take a release made by the maker's signing tool.
      target_compile_definitions(${test} PRIVATE TARNWICK_SIGN_TOOL="$<TARGET_FILE:tarnwick-sign>")
      add_dependencies(${test} tarnwick-sign)
    endif()
    add_test(NAME ${test} COMMAND ${test})
    set_tests_properties(${test} PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
  endforeach()
endif()
