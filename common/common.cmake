# The value texts and the rows of the backup tree: no Qt, so tarnwick-dump shares them.
target_sources(tarnwick_common PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/uCommonUtils.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uBackupTree.cpp
)

# The Qt side of the common unit: used by the windows only, never by the reader.
if(TARNWICK_BUILD_APP)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui)
  add_library(tarnwick_common_qt STATIC ${CMAKE_CURRENT_LIST_DIR}/uShellOpen.cpp)
  target_include_directories(tarnwick_common_qt PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(tarnwick_common_qt PUBLIC tarnwick_common Qt6::Core Qt6::Gui)
endif()
