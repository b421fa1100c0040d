#pragma once
// Key pairs, signatures and update information files for the update tests.

#include "uAutoUpgrader.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <sodium.h>

#include <vector>

struct TTestKeyPair {
    TPublicKey Public{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> Secret{};

    TTestKeyPair()
    {
        if (sodium_init() < 0)
            qFatal("libsodium cannot start");
        crypto_sign_keypair(Public.data(), Secret.data());
    }

    [[nodiscard]] QByteArray SignatureHex(const QByteArray& data) const
    {
        TSignature signature{};
        crypto_sign_detached(signature.data(), nullptr,
                             reinterpret_cast<const unsigned char*>(data.constData()),
                             static_cast<unsigned long long>(data.size()), Secret.data());
        return QByteArray(reinterpret_cast<const char*>(signature.data()), signature.size()).toHex();
    }
};

struct TTestFileEntry {
    QString Url;
    qint64 Size;
    QByteArray SignatureHex;
};

[[nodiscard]] inline QByteArray UpdateInformationFile(const QString& version, const QString& message,
                                                      const std::vector<TTestFileEntry>& files)
{
    QJsonArray list;
    for (const TTestFileEntry& file : files)
        list.append(QJsonObject{{"url", file.Url},
                                {"size", static_cast<double>(file.Size)},
                                {"signature", QString::fromLatin1(file.SignatureHex)}});
    return QJsonDocument(
               QJsonObject{{"format", 1}, {"version", version}, {"message", message}, {"files", list}})
        .toJson();
}

// A tiny setup program: what the maker would publish, shrunk to a shell script.
inline const QByteArray TestSetupScript = "#!/bin/sh\necho \"setup started with $*\"\n";
