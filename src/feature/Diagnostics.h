#pragma once

#include <QFuture>
#include <QObject>
#include <QUrl>
#include <QVariant>

#include <memory>
#include <optional>
#include <string>

#include "core/simulator/EnvironmentSnapshot.h"
#include "feature/Account.h"
#include "feature/BackgroundWork.h"
#include "feature/LaunchHistory.h"
#include "feature/Settings.h"
#include "feature/SimulatorService.h"

namespace quaylet {

// What this host offers for running builds, checked on demand, and the bundle a user sends
// with a report. A failure is reported for the launch panel to show.
class Diagnostics : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariant environment READ environmentValue NOTIFY environmentChanged)
    Q_PROPERTY(
        bool isCheckingEnvironment READ isCheckingEnvironment NOTIFY isCheckingEnvironmentChanged)
    Q_PROPERTY(QVariant savedDiagnostics READ savedDiagnosticsValue NOTIFY savedDiagnosticsChanged)

  public:
    Diagnostics(BackgroundWork& work, const Account& account,
                std::shared_ptr<SimulatorService> simulatorService, Settings settings,
                std::optional<LaunchHistory> launchHistory, QObject* parent = nullptr);

    const std::optional<EnvironmentSnapshot>& environment() const { return environment_; }
    bool isCheckingEnvironment() const { return isCheckingEnvironment_; }
    // The diagnostics bundle saveDiagnostics wrote last.
    const std::optional<std::string>& savedDiagnostics() const { return savedDiagnostics_; }

    Q_INVOKABLE QFuture<void> runDiagnostics();
    // Writes the diagnostics bundle (DiagnosticsBundle.h) to the local file: a fresh
    // environment snapshot, the kept launches and the settings, with the token, queries and
    // home folder taken out. savedDiagnostics names the file after it, the report says why not.
    Q_INVOKABLE QFuture<void> saveDiagnostics(const QUrl& file);

  signals:
    void environmentChanged();
    void isCheckingEnvironmentChanged();
    void savedDiagnosticsChanged();
    // The message a user reads about the last operation; absent: none, the earlier one goes.
    void errorReported(const std::optional<std::string>& message);

  private:
    QVariant environmentValue() const;
    QVariant savedDiagnosticsValue() const;

    BackgroundWork& work_;
    const Account& account_;
    std::shared_ptr<SimulatorService> simulatorService_;
    Settings settings_;
    std::optional<LaunchHistory> launchHistory_;
    std::optional<EnvironmentSnapshot> environment_;
    bool isCheckingEnvironment_ = false;
    std::optional<std::string> savedDiagnostics_;
};

}  // namespace quaylet
