#pragma once
// A small HTTP/1.1 server for the update tests. It listens on 127.0.0.1 only, on a port
// the system picks, answers GET requests from a table of routes and closes every
// connection after one answer. A route can stop its body part way and either cut the
// connection there (a lost connection) or hold the rest until the test releases it
// (to see the client between two parts), or drip the rest a byte at a time (a server
// that keeps a transfer open without ever finishing it). It serves a bounded number of
// connections and stops with the object.

#include <QByteArray>
#include <QHostAddress>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

struct TRoute {
    int Status = 200;
    QByteArray Body;
    qint64 CutAfter = -1;      // send this many body bytes, then close the connection
    qint64 HoldAfter = -1;     // send this many body bytes, the rest on Release()
    QByteArray Location = {};  // for a redirect
    int DripEveryMs = -1;      // after HoldAfter bytes (or none), one byte every so often
};

class TLoopbackHttpServer {
public:
    TLoopbackHttpServer()
    {
        if (!FServer.listen(QHostAddress::LocalHost, 0))
            qFatal("the test server cannot listen on 127.0.0.1");
        QObject::connect(&FServer, &QTcpServer::newConnection, [this] { Accept(); });
    }

    ~TLoopbackHttpServer() { FServer.close(); }

    void Serve(const QString& path, TRoute route) { FRoutes[path] = std::move(route); }

    [[nodiscard]] QString Url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(FServer.serverPort()).arg(path);
    }

    [[nodiscard]] int Requests(const QString& path) const
    {
        const auto it = FRequests.find(path);
        return it == FRequests.end() ? 0 : it->second;
    }

    // Sends the held rest of every held body and closes those connections.
    void Release()
    {
        for (auto& [socket, rest] : FHeld) {
            if (socket) {
                socket->write(rest);
                socket->disconnectFromHost();
            }
        }
        FHeld.clear();
    }

    // An address on which nothing listens: a port the system handed out and took back.
    [[nodiscard]] static QString ClosedPortUrl(const QString& path)
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            qFatal("cannot find a free port on 127.0.0.1");
        const quint16 port = probe.serverPort();
        probe.close();
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }

private:
    static constexpr int MaxConnections = 64;
    static constexpr qsizetype MaxRequestSize = 16 * 1024;

    void Accept()
    {
        while (QTcpSocket* socket = FServer.nextPendingConnection()) {
            if (++FConnections > MaxConnections) {
                socket->abort();
                socket->deleteLater();
                FServer.close();
                continue;
            }
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                buffer->append(socket->readAll());
                if (buffer->size() > MaxRequestSize) {
                    socket->abort();
                    return;
                }
                if (buffer->contains("\r\n\r\n") && !socket->property("answered").toBool()) {
                    socket->setProperty("answered", true);
                    Answer(socket, *buffer);
                }
            });
        }
    }

    void Answer(QTcpSocket* socket, const QByteArray& request)
    {
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        const QString path = words.size() >= 2 ? QString::fromLatin1(words[1]) : QString();
        ++FRequests[path];
        const auto it = FRoutes.find(path);
        const TRoute route = it == FRoutes.end() ? TRoute{404, "not found"} : it->second;
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(route.Status) + (route.Status == 200 ? " OK" : " Error") +
            "\r\nContent-Type: application/octet-stream" +
            (route.Location.isEmpty() ? QByteArray() : "\r\nLocation: " + route.Location) +
            "\r\nContent-Length: " + QByteArray::number(route.Body.size()) + "\r\nConnection: close\r\n\r\n";
        if (route.DripEveryMs >= 0) {
            const qint64 first = std::max<qint64>(route.HoldAfter, 0);
            socket->write(head + route.Body.left(first));
            auto rest = std::make_shared<QByteArray>(route.Body.mid(first));
            auto* drip = new QTimer(socket);
            QObject::connect(drip, &QTimer::timeout, socket, [socket, rest, drip] {
                if (rest->isEmpty()) {
                    drip->stop();
                    socket->disconnectFromHost();
                    return;
                }
                socket->write(rest->left(1));
                rest->remove(0, 1);
            });
            drip->start(route.DripEveryMs);
        } else if (route.CutAfter >= 0) {
            socket->write(head + route.Body.left(route.CutAfter));
            socket->disconnectFromHost();
        } else if (route.HoldAfter >= 0) {
            socket->write(head + route.Body.left(route.HoldAfter));
            socket->flush();
            FHeld.emplace_back(socket, route.Body.mid(route.HoldAfter));
        } else {
            socket->write(head + route.Body);
            socket->disconnectFromHost();
        }
    }

    QTcpServer FServer;
    std::map<QString, TRoute> FRoutes;
    std::map<QString, int> FRequests;
    std::vector<std::pair<QPointer<QTcpSocket>, QByteArray>> FHeld;
    int FConnections = 0;
};
