// tarnwick-sign: makes the Ed25519 key pair that signs Tarnwick's updates, writes the
// signed update information file that names a release's version and its files with their
// sizes and SHA-256 hashes, and checks a written file and the files it names against the
// public key.
//
//   tarnwick-sign keygen --secret-key release.key
//   tarnwick-sign info --secret-key release.key --version 1.4.0.20 --history history.html
//                 --file https://www.quorvel.example/downloads/tarnwick/setup.sh=dist/setup.sh
//                 --output update.inf
//   tarnwick-sign verify --public-key <64 hex digits> --info update.inf --dir dist

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef TARNWICK_VERSION
#error "TARNWICK_VERSION must be defined by the build"
#endif

namespace {

using SecretKey = std::array<unsigned char, crypto_sign_SECRETKEYBYTES>;
using PublicKey = std::array<unsigned char, crypto_sign_PUBLICKEYBYTES>;
using Signature = std::array<unsigned char, crypto_sign_BYTES>;
using Sha256 = std::array<unsigned char, crypto_hash_sha256_BYTES>;

constexpr char Tool[] = "tarnwick-sign";
// What the signature is made over: this text, then the signed text. The program checks
// the same; the prefix keeps a signature of anything else from passing for this one.
constexpr char SignaturePrefix[] = "Tarnwick update information\n";
constexpr std::size_t MaxFileNameLength = 128;

// The exit statuses, as --help lists them.
constexpr int ExitGood = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

int Fail(const std::string& reason)
{
    std::cerr << Tool << ": " << reason << "\n";
    return ExitFailed;
}

std::string ToHex(const unsigned char* bytes, std::size_t size)
{
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

template <std::size_t N> bool FromHex(std::string_view hex, std::array<unsigned char, N>& out)
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

// Read with plain system calls into one buffer of our own, so that the key's text can be
// wiped: a stream would leave copies in buffers out of reach.
std::optional<SecretKey> ReadSecretKey(const std::string& path)
{
    std::array<char, crypto_sign_SECRETKEYBYTES * 2 + 8> text{};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t got = ::read(fd, text.data() + length, text.size() - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        length += static_cast<std::size_t>(got);
    }
    ::close(fd);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
        --length;
    SecretKey key{};
    const bool read = FromHex(std::string_view(text.data(), length), key);
    sodium_memzero(text.data(), text.size());
    if (!read) {
        sodium_memzero(key.data(), key.size());
        return std::nullopt;
    }
    return key;
}

bool IsSafeNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// The rule the program applies to every name before it stores a download under it.
bool IsSafeFileName(const std::string& name)
{
    return !name.empty() && name.size() <= MaxFileNameLength && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), IsSafeNameCharacter);
}

// The name a file published at url is stored under: the address's last segment, every
// other character made "_", leading dots dropped (the same as the program's own rule).
std::string SafeFileNameFromUrl(const std::string& url)
{
    std::string name = url.substr(0, url.find_first_of("?#"));
    const auto slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    for (char& c : name)
        if (!IsSafeNameCharacter(c))
            c = '_';
    const auto first = name.find_first_not_of('.');
    name.erase(0, first == std::string::npos ? name.size() : first);
    if (name.size() > MaxFileNameLength)
        name.resize(MaxFileNameLength);
    return name;
}

bool IsVersionNumber(const std::string& version)
{
    if (version.empty() || version.front() == '.' || version.back() == '.' ||
        version.find("..") != std::string::npos)
        return false;
    return std::all_of(version.begin(), version.end(),
                       [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

Sha256 HashOf(const std::string& bytes)
{
    Sha256 hash{};
    crypto_hash_sha256(hash.data(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return hash;
}

int KeyGen(const std::string& secretPath)
{
    PublicKey publicKey{};
    SecretKey secretKey{};
    crypto_sign_keypair(publicKey.data(), secretKey.data());
    // Created for the owner alone and never over an existing key: losing the old key
    // would leave every installed copy unable to accept another update.
    const int fd = ::open(secretPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        sodium_memzero(secretKey.data(), secretKey.size());
        return Fail(secretPath + ": " + std::strerror(errno));
    }
    std::array<char, crypto_sign_SECRETKEYBYTES * 2 + 2> text{};
    sodium_bin2hex(text.data(), text.size(), secretKey.data(), secretKey.size());
    sodium_memzero(secretKey.data(), secretKey.size());
    const std::size_t length = crypto_sign_SECRETKEYBYTES * 2 + 1;
    text[length - 1] = '\n';
    const bool written = ::write(fd, text.data(), length) == static_cast<ssize_t>(length) && ::fsync(fd) == 0;
    sodium_memzero(text.data(), text.size());
    if (::close(fd) != 0 || !written)
        return Fail(secretPath + ": cannot write the secret key");
    std::cout << ToHex(publicKey.data(), publicKey.size()) << "\n";
    return ExitGood;
}

struct TInfoOptions {
    std::string SecretPath, Version, HistoryPath, OutputPath, Run, Package, PackagePage;
    std::vector<std::string> Files;
};

int Info(const TInfoOptions& options)
{
    if (!IsVersionNumber(options.Version))
        return Fail(options.Version + ": the version must be dot-separated decimal numbers");
    if (!options.PackagePage.empty() && options.PackagePage.rfind("https://", 0) != 0)
        return Fail(options.PackagePage + ": the package page must be an https:// address");
    const auto history = ReadFile(options.HistoryPath);
    if (!history)
        return Fail(options.HistoryPath + ": cannot read");

    nlohmann::json list = nlohmann::json::array();
    std::set<std::string> names;
    std::string firstName;
    for (const std::string& entry : options.Files) {
        // The address may itself contain "=", the local path is after the last one.
        const std::size_t split = entry.rfind('=');
        if (split == std::string::npos || split == 0 || split + 1 == entry.size())
            return Fail(entry + ": expected ADDRESS=PATH");
        const std::string url = entry.substr(0, split);
        const std::string path = entry.substr(split + 1);
        if (url.rfind("https://", 0) != 0)
            std::cerr << Tool << ": warning: " << url
                      << " is not an HTTPS address; Tarnwick will refuse it\n";
        const std::string name = SafeFileNameFromUrl(url);
        if (name.empty())
            return Fail(url + ": the address does not end in a file name");
        if (!names.insert(name).second)
            return Fail(url + ": another file has the name " + name);
        const auto bytes = ReadFile(path);
        if (!bytes)
            return Fail(path + ": cannot read");
        if (bytes->size() > 0x7fffffffu)
            return Fail(path + ": larger than Tarnwick downloads (2 GiB)");
        const Sha256 hash = HashOf(*bytes);
        list.push_back({{"name", name},
                        {"url", url},
                        {"size", bytes->size()},
                        {"sha256", ToHex(hash.data(), hash.size())}});
        if (firstName.empty())
            firstName = name;
    }
    const std::string run = options.Run.empty() ? firstName : options.Run;
    if (!names.count(run))
        return Fail(run + ": --run must name one of the files (the last segment of its address)");
    if (!options.Package.empty() && !names.count(options.Package))
        return Fail(options.Package +
                    ": --package must name one of the files (the last segment of its address)");

    nlohmann::json text = {{"product", "tarnwick"},
                           {"version", options.Version},
                           {"message", *history},
                           {"files", list},
                           {"run", run}};
    if (!options.Package.empty())
        text["package"] = options.Package;
    if (!options.PackagePage.empty())
        text["packagePage"] = options.PackagePage;
    std::string signedText;
    try {
        signedText = text.dump();
    } catch (const nlohmann::json::exception& error) {
        // The history must be UTF-8; a damaged one would show as an empty history.
        return Fail(options.HistoryPath + ": " + error.what());
    }

    auto secretKey = ReadSecretKey(options.SecretPath);
    if (!secretKey)
        return Fail(options.SecretPath + ": not a secret key written by tarnwick-sign keygen");
    const std::string message = SignaturePrefix + signedText;
    Signature signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), secretKey->data());
    sodium_memzero(secretKey->data(), secretKey->size());

    const nlohmann::json document = {
        {"format", 2}, {"signed", signedText}, {"signature", ToHex(signature.data(), signature.size())}};
    std::ofstream out(options.OutputPath, std::ios::binary | std::ios::trunc);
    out << document.dump(2) << "\n";
    out.close();
    if (!out)
        return Fail(options.OutputPath + ": cannot write");
    return ExitGood;
}

int Verify(const std::string& publicHex, const std::string& infoPath, const std::string& folder)
{
    PublicKey publicKey{};
    if (!FromHex(publicHex, publicKey))
        return Fail("the public key must be 64 hex digits");
    const auto text = ReadFile(infoPath);
    if (!text)
        return Fail(infoPath + ": cannot read");
    int failures = 0;
    try {
        const nlohmann::json document = nlohmann::json::parse(*text);
        if (document.at("format").get<int>() != 2)
            return Fail(infoPath + ": not an information file of format 2");
        const std::string signedText = document.at("signed").get<std::string>();
        const std::string message = SignaturePrefix + signedText;
        Signature signature{};
        if (!FromHex(document.at("signature").get<std::string>(), signature) ||
            crypto_sign_verify_detached(signature.data(),
                                        reinterpret_cast<const unsigned char*>(message.data()),
                                        message.size(), publicKey.data()) != 0)
            return Fail(infoPath + ": the signature does not match the public key");
        const nlohmann::json content = nlohmann::json::parse(signedText);
        std::cout << "version " << content.at("version").get<std::string>() << ", runs "
                  << content.at("run").get<std::string>() << "\n";
        for (const auto& file : content.at("files")) {
            const std::string url = file.at("url").get<std::string>();
            const std::string name = file.at("name").get<std::string>();
            // The name comes from the file being checked: never a path out of the folder.
            if (!IsSafeFileName(name)) {
                std::cout << "BAD  " << url << " (the name is not a plain file name)\n";
                ++failures;
                continue;
            }
            const std::string path = (std::filesystem::path(folder) / name).string();
            const auto bytes = ReadFile(path);
            Sha256 listed{};
            const bool good = bytes && bytes->size() == file.at("size").get<std::uint64_t>() &&
                              FromHex(file.at("sha256").get<std::string>(), listed) &&
                              sodium_memcmp(HashOf(*bytes).data(), listed.data(), listed.size()) == 0;
            std::cout << (good ? "good " : "BAD  ") << url << " (" << path << ")\n";
            failures += good ? 0 : 1;
        }
    } catch (const nlohmann::json::exception& error) {
        return Fail(infoPath + ": " + error.what());
    }
    return failures == 0 ? ExitGood : ExitFailed;
}

}  // namespace

int main(int argc, char** argv)
{
    if (sodium_init() < 0)
        return Fail("libsodium cannot start");
    CLI::App app{"Makes the key pair that signs Tarnwick updates, writes signed update information files and "
                 "checks them.",
                 Tool};
    app.set_help_flag();
    app.set_help_all_flag("-h,--help", "print this help, with the options of every command, and exit");
    app.set_version_flag("--version", std::string(Tool) + " " + TARNWICK_VERSION,
                         "print the version and exit");
    app.footer(
        "Exit status:\n"
        "  0  success (verify: the signature and every file are good)\n"
        "  1  failure: a file could not be read or written, a key or file is not valid, or verify found\n"
        "     a bad signature or a bad file\n"
        "  2  the command line is not valid");
    app.require_subcommand(1);
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return std::string(Tool) + ": " + error.what() + "\n";
    });

    std::string secretPath;
    auto* keygen =
        app.add_subcommand("keygen", "make a key pair: the secret key into a new file, the public key "
                                     "(for TARNWICK_UPDATE_PUBLIC_KEY) to standard output");
    keygen->add_option("--secret-key", secretPath, "file for the secret key (must not exist)")->required();

    TInfoOptions options;
    auto* info = app.add_subcommand("info", "write a signed update information file");
    info->add_option("--secret-key", options.SecretPath, "secret key file from keygen")->required();
    info->add_option("--version", options.Version, "the announced version, e.g. 1.4.0.20")->required();
    info->add_option("--history", options.HistoryPath, "HTML version history (UTF-8) with version markers")
        ->required();
    info->add_option(
            "--file", options.Files,
            "ADDRESS=PATH of a file to download, stored under the last segment of ADDRESS; repeatable")
        ->required();
    info->add_option("--run", options.Run, "name of the file that is started (default: the first --file)");
    info->add_option("--package", options.Package,
                     "name of the package file offered to installed copies instead of a setup program");
    info->add_option("--package-page", options.PackagePage,
                     "https:// address of the new package's download page, for installed copies");
    info->add_option("--output", options.OutputPath, "the update information file to write")->required();

    std::string publicHex, infoPath, folder;
    auto* verify =
        app.add_subcommand("verify", "check an update information file and its files against the key");
    verify->add_option("--public-key", publicHex, "the public key, 64 hex digits")->required();
    verify->add_option("--info", infoPath, "the update information file")->required();
    verify->add_option("--dir", folder, "folder holding the files under their names")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? ExitGood : ExitUsage;
    }
    if (keygen->parsed())
        return KeyGen(secretPath);
    if (info->parsed())
        return Info(options);
    return Verify(publicHex, infoPath, folder);
}
