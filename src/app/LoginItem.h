#pragma once

#include <QObject>
#include <QString>

namespace quaylet {

// "Open at login": whether the desktop starts Quaylet when the user logs in, so that watched
// pull requests keep being watched. The switch shows what is really installed, read again on
// each change; each platform has its own source file, chosen in CMake: an XDG autostart entry
// on Linux, a login item on macOS.
class LoginItem : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool installed READ isInstalled WRITE setInstalled NOTIFY installedChanged)
    // Why the last change could not be made; empty once one succeeds.
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

  public:
    explicit LoginItem(QObject* parent = nullptr);

    bool isInstalled() const;
    void setInstalled(bool installed);
    QString error() const { return error_; }

  signals:
    void installedChanged();
    void errorChanged();

  private:
    // Installs or removes the item; the reason when that failed, else empty.
    static QString install(bool installed);

    QString error_;
};

}  // namespace quaylet
