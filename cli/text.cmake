# The readable tree output of tarnwick-dump, in a library so its tests link the same code.
add_library(tarnwick_dump_text STATIC ${CMAKE_CURRENT_LIST_DIR}/uDumpText.cpp)
target_include_directories(tarnwick_dump_text PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tarnwick_dump_text PUBLIC tarnwick_common)
target_link_libraries(tarnwick-dump PRIVATE tarnwick_dump_text)
