#pragma once
// Key pairs, signatures and update information files for the update tests.

#include "uAutoUpgrader.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <sodium.h>

#include <vector>

[[nodiscard]] inline QByteArray Sha256Hex(const QByteArray& data)
{
    TSha256 hash{};
    crypto_hash_sha256(hash.data(), reinterpret_cast<const unsigned char*>(data.constData()),
                       static_cast<unsigned long long>(data.size()));
    return QByteArray(reinterpret_cast<const char*>(hash.data()), hash.size()).toHex();
}

struct TTestFileEntry {
    QString Url;
    qint64 Size;
    QByteArray Sha256Hex;
    QString Name = {};  // empty: the last segment of Url
};

// The text the maker signs: the announcement with its files. run empty: the first file.
// extra adds or replaces fields (a package, a download page, another product).
[[nodiscard]] inline QByteArray SignedInformationText(const QString& version, const QString& message,
                                                      const std::vector<TTestFileEntry>& files,
                                                      const QString& run = {}, const QJsonObject& extra = {})
{
    QJsonArray list;
    QString first;
    for (const TTestFileEntry& file : files) {
        const QString name = file.Name.isEmpty() ? QUrl(file.Url).fileName() : file.Name;
        if (first.isEmpty())
            first = name;
        list.append(QJsonObject{{"name", name},
                                {"url", file.Url},
                                {"size", static_cast<double>(file.Size)},
                                {"sha256", QString::fromLatin1(file.Sha256Hex)}});
    }
    QJsonObject text{{"product", "tarnwick"},
                     {"version", version},
                     {"message", message},
                     {"files", list},
                     {"run", run.isEmpty() ? first : run}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        text[it.key()] = it.value();
    return QJsonDocument(text).toJson(QJsonDocument::Compact);
}

// The information file around a signed text and its signature.
[[nodiscard]] inline QByteArray InformationEnvelope(const QByteArray& signedText,
                                                    const QByteArray& signatureHex)
{
    return QJsonDocument(QJsonObject{{"format", 2},
                                     {"signed", QString::fromUtf8(signedText)},
                                     {"signature", QString::fromLatin1(signatureHex)}})
        .toJson();
}

struct TTestKeyPair {
    TPublicKey Public{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> Secret{};

    TTestKeyPair()
    {
        if (sodium_init() < 0)
            qFatal("libsodium cannot start");
        crypto_sign_keypair(Public.data(), Secret.data());
    }

    // The signature of an information file's signed text.
    [[nodiscard]] QByteArray InformationSignatureHex(const QByteArray& signedText) const
    {
        const QByteArray message = QByteArray(UpdateInformationSignaturePrefix) + signedText;
        TSignature signature{};
        crypto_sign_detached(signature.data(), nullptr,
                             reinterpret_cast<const unsigned char*>(message.constData()),
                             static_cast<unsigned long long>(message.size()), Secret.data());
        return QByteArray(reinterpret_cast<const char*>(signature.data()), signature.size()).toHex();
    }

    [[nodiscard]] QByteArray InformationFile(const QString& version, const QString& message,
                                             const std::vector<TTestFileEntry>& files,
                                             const QString& run = {}, const QJsonObject& extra = {}) const
    {
        const QByteArray text = SignedInformationText(version, message, files, run, extra);
        return InformationEnvelope(text, InformationSignatureHex(text));
    }
};

// A tiny setup program: what the maker would publish, shrunk to a shell script.
inline const QByteArray TestSetupScript = "#!/bin/sh\necho \"setup started with $*\"\n";
