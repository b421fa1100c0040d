// tarnwick-sign: makes the Ed25519 key pair that signs Tarnwick's updates, writes the
// update information file that lists a release's files with their sizes and
// signatures, and checks a written file against the public key.
//
//   tarnwick-sign keygen --secret-key release.key
//   tarnwick-sign info --secret-key release.key --version 1.4.0.20 --history history.html
//                 --file https://www.quorvel.example/downloads/tarnwick/setup.sh=dist/setup.sh
//                 --output update.inf
//   tarnwick-sign verify --public-key <64 hex digits> --info update.inf --dir dist

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <sodium.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using SecretKey = std::array<unsigned char, crypto_sign_SECRETKEYBYTES>;
using PublicKey = std::array<unsigned char, crypto_sign_PUBLICKEYBYTES>;
using Signature = std::array<unsigned char, crypto_sign_BYTES>;

std::string ToHex(const unsigned char* bytes, std::size_t size)
{
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

template <std::size_t N> bool FromHex(const std::string& hex, std::array<unsigned char, N>& out)
{
    std::size_t length = 0;
    return hex.size() == N * 2 &&
           sodium_hex2bin(out.data(), N, hex.data(), hex.size(), nullptr, &length, nullptr) == 0 &&
           length == N;
}

std::optional<std::string> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return bytes.str();
}

std::optional<SecretKey> ReadSecretKey(const std::string& path)
{
    auto text = ReadFile(path);
    if (!text)
        return std::nullopt;
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r'))
        text->pop_back();
    SecretKey key{};
    if (!FromHex(*text, key))
        return std::nullopt;
    return key;
}

int KeyGen(const std::string& secretPath)
{
    PublicKey publicKey{};
    SecretKey secretKey{};
    crypto_sign_keypair(publicKey.data(), secretKey.data());
    // Created for the owner alone and never over an existing key: losing the old key
    // would leave every installed copy unable to accept another update.
    const int fd = ::open(secretPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        std::perror(secretPath.c_str());
        return 1;
    }
    const std::string text = ToHex(secretKey.data(), secretKey.size()) + "\n";
    sodium_memzero(secretKey.data(), secretKey.size());
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (::close(fd) != 0 || !written) {
        std::cerr << secretPath << ": cannot write the secret key\n";
        return 1;
    }
    std::cout << ToHex(publicKey.data(), publicKey.size()) << "\n";
    return 0;
}

int Info(const std::string& secretPath, const std::string& version, const std::string& historyPath,
         const std::vector<std::string>& files, const std::string& outputPath)
{
    const auto secretKey = ReadSecretKey(secretPath);
    if (!secretKey) {
        std::cerr << secretPath << ": not a secret key written by tarnwick-sign keygen\n";
        return 1;
    }
    const auto history = ReadFile(historyPath);
    if (!history) {
        std::cerr << historyPath << ": cannot read\n";
        return 1;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const std::string& entry : files) {
        // The address may itself contain "=", the local path is after the last one.
        const std::size_t split = entry.rfind('=');
        if (split == std::string::npos || split == 0 || split + 1 == entry.size()) {
            std::cerr << entry << ": expected ADDRESS=PATH\n";
            return 1;
        }
        const std::string url = entry.substr(0, split);
        const std::string path = entry.substr(split + 1);
        if (url.rfind("https://", 0) != 0)
            std::cerr << "warning: " << url << " is not an HTTPS address; Tarnwick will refuse it\n";
        const auto bytes = ReadFile(path);
        if (!bytes) {
            std::cerr << path << ": cannot read\n";
            return 1;
        }
        Signature signature{};
        crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(bytes->data()),
                             bytes->size(), secretKey->data());
        list.push_back({{"url", url},
                        {"size", bytes->size()},
                        {"signature", ToHex(signature.data(), signature.size())}});
    }
    const nlohmann::json document = {
        {"format", 1}, {"version", version}, {"message", *history}, {"files", list}};
    std::string text;
    try {
        text = document.dump(2) + "\n";
    } catch (const nlohmann::json::exception& error) {
        // The history must be UTF-8; a damaged one would show as an empty history.
        std::cerr << historyPath << ": " << error.what() << "\n";
        return 1;
    }
    std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << outputPath << ": cannot write\n";
        return 1;
    }
    return 0;
}

int Verify(const std::string& publicHex, const std::string& infoPath, const std::string& folder)
{
    PublicKey publicKey{};
    if (!FromHex(publicHex, publicKey)) {
        std::cerr << "the public key must be 64 hex digits\n";
        return 1;
    }
    const auto text = ReadFile(infoPath);
    if (!text) {
        std::cerr << infoPath << ": cannot read\n";
        return 1;
    }
    int failures = 0;
    try {
        const nlohmann::json document = nlohmann::json::parse(*text);
        for (const auto& file : document.at("files")) {
            const std::string url = file.at("url").get<std::string>();
            const std::string name = url.substr(url.find_last_of('/') + 1);
            const std::string path = (std::filesystem::path(folder) / name).string();
            const auto bytes = ReadFile(path);
            Signature signature{};
            const bool good = bytes && bytes->size() == file.at("size").get<std::uint64_t>() &&
                              FromHex(file.at("signature").get<std::string>(), signature) &&
                              crypto_sign_verify_detached(
                                  signature.data(), reinterpret_cast<const unsigned char*>(bytes->data()),
                                  bytes->size(), publicKey.data()) == 0;
            std::cout << (good ? "good " : "BAD  ") << url << " (" << path << ")\n";
            failures += good ? 0 : 1;
        }
    } catch (const nlohmann::json::exception& error) {
        std::cerr << infoPath << ": " << error.what() << "\n";
        return 1;
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (sodium_init() < 0) {
        std::cerr << "libsodium cannot start\n";
        return 1;
    }
    CLI::App app{"Makes the key pair that signs Tarnwick updates and writes signed update information files"};
    app.require_subcommand(1);

    std::string secretPath;
    auto* keygen =
        app.add_subcommand("keygen", "make a key pair: the secret key into a new file, the public key "
                                     "(for TARNWICK_UPDATE_PUBLIC_KEY) to standard output");
    keygen->add_option("--secret-key", secretPath, "file for the secret key (must not exist)")->required();

    std::string version, historyPath, outputPath;
    std::vector<std::string> files;
    auto* info = app.add_subcommand("info", "write an update information file with signed file entries");
    info->add_option("--secret-key", secretPath, "secret key file from keygen")->required();
    info->add_option("--version", version, "the announced version, e.g. 1.4.0.20")->required();
    info->add_option("--history", historyPath, "HTML version history (UTF-8) with version markers")
        ->required();
    info->add_option("--file", files, "ADDRESS=PATH of a file to download; the first is the setup program")
        ->required();
    info->add_option("--output", outputPath, "the update information file to write")->required();

    std::string publicHex, infoPath, folder;
    auto* verify =
        app.add_subcommand("verify", "check the files of an update information file against the key");
    verify->add_option("--public-key", publicHex, "the public key, 64 hex digits")->required();
    verify->add_option("--info", infoPath, "the update information file")->required();
    verify->add_option("--dir", folder, "folder holding the files under their address's last name")
        ->required();

    CLI11_PARSE(app, argc, argv);
    if (keygen->parsed())
        return KeyGen(secretPath);
    if (info->parsed())
        return Info(secretPath, version, historyPath, files, outputPath);
    return Verify(publicHex, infoPath, folder);
}
