# tarnwick-sign: the maker's tool that makes the update key pair and writes a signed
# update information file. No Qt: it runs wherever a release is built.
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
add_executable(tarnwick-sign ${CMAKE_CURRENT_LIST_DIR}/tarnwick_sign.cpp)
target_link_libraries(tarnwick-sign PRIVATE PkgConfig::SODIUM nlohmann_json::nlohmann_json CLI11::CLI11)
install(TARGETS tarnwick-sign)
