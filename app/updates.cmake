# The about box, the update information window, the update check window and the
# upgrade component behind it.

# The maker's Ed25519 public key (64 hex digits) that every downloaded update must be
# signed with. Without one the program cannot tell a genuine setup program from a
# forged one, so it verifies nothing and starts nothing.
set(TARNWICK_UPDATE_PUBLIC_KEY "" CACHE STRING
    "Ed25519 public key (64 hex digits) that signs the files of an update; empty: updates are never installed")
if(NOT TARNWICK_UPDATE_PUBLIC_KEY STREQUAL "" AND NOT TARNWICK_UPDATE_PUBLIC_KEY MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "TARNWICK_UPDATE_PUBLIC_KEY must be hexadecimal digits")
endif()
string(LENGTH "${TARNWICK_UPDATE_PUBLIC_KEY}" _tarnwick_key_length)
if(NOT _tarnwick_key_length EQUAL 0 AND NOT _tarnwick_key_length EQUAL 64)
  message(FATAL_ERROR "TARNWICK_UPDATE_PUBLIC_KEY must be 64 hex digits (32 bytes), not ${_tarnwick_key_length}")
endif()

# The version resource stand-in: the values a Windows build would carry in its version
# resource, stamped from the project version so that every window shows the same one.
set(TARNWICK_LEGAL_COPYRIGHT "Copyright (C) Quorvel")
configure_file(${CMAKE_CURRENT_LIST_DIR}/uVersionInfo.h.in
               ${CMAKE_CURRENT_BINARY_DIR}/generated/uVersionInfo.h @ONLY)

pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)

add_library(tarnwick_updates STATIC
  ${CMAKE_CURRENT_LIST_DIR}/uVersionInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uDialogs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uDialogs.h
  ${CMAKE_CURRENT_LIST_DIR}/ufrmAbout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ufrmAbout.h
  ${CMAKE_CURRENT_LIST_DIR}/ufrmWebUpdateInformation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ufrmWebUpdateInformation.h
  ${CMAKE_CURRENT_LIST_DIR}/uAutoUpgrader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uAutoUpgrader.h
  ${CMAKE_CURRENT_LIST_DIR}/ufrmCheckForUpdates.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ufrmCheckForUpdates.h
)
set_target_properties(tarnwick_updates PROPERTIES AUTOMOC ON)
target_include_directories(tarnwick_updates PUBLIC
  ${CMAKE_CURRENT_LIST_DIR}
  ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_compile_definitions(tarnwick_updates PRIVATE
  TARNWICK_UPDATE_PUBLIC_KEY="${TARNWICK_UPDATE_PUBLIC_KEY}")
target_link_libraries(tarnwick_updates PUBLIC
  Qt6::Widgets Qt6::Network tarnwick_common_qt PkgConfig::SODIUM)

# The program opens these windows from its toolbar.
if(TARGET tarnwick)
  target_link_libraries(tarnwick PRIVATE tarnwick_updates)
endif()
