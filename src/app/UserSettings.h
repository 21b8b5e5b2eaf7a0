#pragma once

#include <QObject>
#include <QString>

#include "feature/Settings.h"

namespace quaylet {

// The launch settings for the views, read from and written to the same settings file
// that AppState and the command line use; each change is written at once.
class UserSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString preferredSimulatorUDID READ preferredSimulatorUDID WRITE
                   setPreferredSimulatorUDID NOTIFY preferredSimulatorUDIDChanged)
    Q_PROPERTY(QString preferredEmulator READ preferredEmulator WRITE setPreferredEmulator NOTIFY
                   preferredEmulatorChanged)
    Q_PROPERTY(bool activateSimulator READ activateSimulator WRITE setActivateSimulator NOTIFY
                   activateSimulatorChanged)
    Q_PROPERTY(bool startSimulatorWhileDownloading READ startSimulatorWhileDownloading WRITE
                   setStartSimulatorWhileDownloading NOTIFY startSimulatorWhileDownloadingChanged)
    // Why the last change could not be saved; empty once a change is saved.
    Q_PROPERTY(QString saveError READ saveError NOTIFY saveErrorChanged)

  public:
    explicit UserSettings(QObject* parent = nullptr);

    QString preferredSimulatorUDID() const;
    void setPreferredSimulatorUDID(const QString& udid);
    QString preferredEmulator() const;
    void setPreferredEmulator(const QString& name);
    bool activateSimulator() const;
    void setActivateSimulator(bool activate);
    bool startSimulatorWhileDownloading() const;
    void setStartSimulatorWhileDownloading(bool start);
    QString saveError() const { return saveError_; }

  signals:
    void preferredSimulatorUDIDChanged();
    void preferredEmulatorChanged();
    void activateSimulatorChanged();
    void startSimulatorWhileDownloadingChanged();
    void saveErrorChanged();

  private:
    // Runs a write; on failure keeps the reason, and the property re-reads the file either
    // way, so a control never shows a value that was not saved.
    template <typename Write>
    void save(Write write, void (UserSettings::*changed)());

    Settings settings_;
    QString saveError_;
};

}  // namespace quaylet
