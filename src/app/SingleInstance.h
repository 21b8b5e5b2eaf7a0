#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QUrl>

class QLocalSocket;

#include <memory>

namespace quaylet {

// One running application per user. The first process to start holds a lock in the user's
// runtime folder and listens on a local socket beside it; a later process hands its links
// to that one over the socket and exits. The lock records its holder's process, so a holder
// that crashed never blocks the next start.
class SingleInstance : public QObject {
    Q_OBJECT

  public:
    enum class Role {
        // This process runs the application; links from later starts arrive as
        // linksReceived.
        primary,
        // The running application acknowledged this process's links: this one should exit.
        handedOver,
    };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Becomes the primary process or hands `links` to it. Throws std::runtime_error with a
    // sentence for the user when neither is possible (no runtime folder, or a running
    // application that does not answer).
    Role claim(const QList<QUrl>& links);

  signals:
    // The links another start of the application was given, in its order; may be empty.
    void linksReceived(const QList<QUrl>& links);

  private:
    // Both live in the user's own runtime folder, which only the user can enter.
    static QString lockPath();
    static QString socketPath();

    bool handOver(const QByteArray& message, const QDeadlineTimer& deadline) const;
    void listen();
    void receive(QLocalSocket* connection);

    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

}  // namespace quaylet
