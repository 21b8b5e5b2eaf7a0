#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <memory>
#include <optional>
#include <stdexcept>

namespace quaylet {
namespace {

// A hand-over is a few links, one encoded URL a line, closed by an empty line; the running
// application answers "ok" once it has taken them. Anything larger than this is not ours.
constexpr qsizetype kMaxMessageBytes = 64 * 1024;
constexpr QByteArrayView kAcknowledgement = "ok\n";
// How long a later start waits for the running application, which may itself be starting.
constexpr int kAnswerTimeoutMilliseconds = 10'000;
constexpr unsigned long kListenRetryMilliseconds = 50;

QString runtimeFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        throw std::runtime_error(
            "Quaylet couldn’t find a private runtime folder for its lock. Set XDG_RUNTIME_DIR "
            "to a folder only you can write, then start Quaylet again.");
    }
    return folder;
}

QByteArray messageFor(const QList<QUrl>& links) {
    QByteArray message;
    for (const QUrl& link : links) {
        // The encoded form has no line breaks: they would have been percent-encoded.
        message += link.toEncoded() + '\n';
    }
    message += '\n';
    if (message.size() > kMaxMessageBytes) {
        throw std::runtime_error(
            "These links are too long to hand to the running Quaylet. Open fewer links at once.");
    }
    return message;
}

// The links of a complete message, or nothing while its closing empty line has not arrived.
std::optional<QList<QUrl>> linksIn(const QByteArray& message) {
    QList<QUrl> links;
    qsizetype start = 0;
    for (qsizetype end = message.indexOf('\n'); end >= 0;
         start = end + 1, end = message.indexOf('\n', start)) {
        if (end == start) {
            return links;
        }
        links.append(QUrl::fromEncoded(message.sliced(start, end - start)));
    }
    return std::nullopt;
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* connection = server_.nextPendingConnection()) {
            receive(connection);
        }
    });
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() {
    return runtimeFolder() + QStringLiteral("/quaylet-app.lock");
}

QString SingleInstance::socketPath() {
    return runtimeFolder() + QStringLiteral("/quaylet-app.socket");
}

SingleInstance::Role SingleInstance::claim(const QList<QUrl>& links) {
    const QByteArray message = messageFor(links);
    lock_ = std::make_unique<QLockFile>(lockPath());
    // Only a holder that no longer runs makes the lock stale; an old lock of a live
    // application is still its lock.
    lock_->setStaleLockTime(0);
    const QDeadlineTimer deadline(kAnswerTimeoutMilliseconds);
    while (true) {
        // Tried on every round: the holder may have crashed since the last one.
        if (lock_->tryLock(0)) {
            listen();
            return Role::primary;
        }
        if (lock_->error() != QLockFile::LockFailedError) {
            throw std::runtime_error("Quaylet couldn’t create its lock file " +
                                     lockPath().toStdString() +
                                     ". Check that the folder is writable, then start Quaylet "
                                     "again.");
        }
        if (handOver(message, deadline)) {
            return Role::handedOver;
        }
        if (deadline.hasExpired()) {
            throw std::runtime_error(
                "Quaylet is already running but doesn’t answer. Quit it, then open the link "
                "again.");
        }
        // The holder has taken the lock but is not listening yet.
        QThread::msleep(kListenRetryMilliseconds);
    }
}

bool SingleInstance::handOver(const QByteArray& message, const QDeadlineTimer& deadline) const {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
        return false;
    }
    socket.write(message);
    QByteArray answer;
    while (answer.size() < kAcknowledgement.size() &&
           socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
        answer += socket.read(kAcknowledgement.size() - answer.size());
    }
    return answer == kAcknowledgement;
}

void SingleInstance::listen() {
    const QString path = socketPath();
    // We hold the lock, so a socket file left here belongs to a holder that is gone.
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(path)) {
        throw std::runtime_error("Quaylet couldn’t listen for links at " + path.toStdString() +
                                 ": " + server_.errorString().toStdString() + ".");
    }
}

void SingleInstance::receive(QLocalSocket* connection) {
    connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
    auto message = std::make_shared<QByteArray>();
    connect(connection, &QLocalSocket::readyRead, this, [this, connection, message] {
        *message += connection->readAll();
        if (message->size() > kMaxMessageBytes) {
            // Not one of our hand-overs: drop it without an answer.
            connection->abort();
            connection->deleteLater();
            return;
        }
        if (const std::optional<QList<QUrl>> links = linksIn(*message)) {
            message->clear();
            emit linksReceived(*links);
            connection->write(kAcknowledgement.data(), kAcknowledgement.size());
            connection->disconnectFromServer();
        }
    });
}

}  // namespace quaylet
