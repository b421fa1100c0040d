# The verbatim INI store has no Qt, so its tests need no window.
add_library(tarnwick_inifile STATIC ${CMAKE_CURRENT_LIST_DIR}/uIniFile.cpp)
target_include_directories(tarnwick_inifile PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The main window in a library of its own, so the GUI tests link the same code as the
# program.
add_library(tarnwick_ui STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ufrmMain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ufrmMain.h
  ${CMAKE_CURRENT_LIST_DIR}/resources/tarnwick.qrc
)
set_target_properties(tarnwick_ui PROPERTIES AUTOMOC ON AUTORCC ON)
target_include_directories(tarnwick_ui PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tarnwick_ui PUBLIC
  Qt6::Widgets tarnwick_inifile tarnwick_reader tarnwick_common tarnwick_common_qt)

add_executable(tarnwick ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(tarnwick PRIVATE tarnwick_ui)
# The about box and the update windows answer the toolbar's two signals (main.cpp).
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/updates.cmake)
  target_link_libraries(tarnwick PRIVATE tarnwick_updates)
endif()
install(TARGETS tarnwick)
