#include "feature/Diagnostics.h"

#include <QCoreApplication>
#include <QFile>

#include <filesystem>

#include "core/errors/UserMessage.h"
#include "feature/DiagnosticsBundle.h"
#include "feature/MainThread.h"
#include "feature/RecordVariants.h"

namespace quaylet {

Diagnostics::Diagnostics(BackgroundWork& work, const Account& account,
                         std::shared_ptr<SimulatorService> simulatorService, Settings settings,
                         std::optional<LaunchHistory> launchHistory, QObject* parent)
    : QObject(parent),
      work_(work),
      account_(account),
      simulatorService_(std::move(simulatorService)),
      settings_(std::move(settings)),
      launchHistory_(std::move(launchHistory)) {}

QFuture<void> Diagnostics::runDiagnostics() {
    assign(this, isCheckingEnvironment_, true, &Diagnostics::isCheckingEnvironmentChanged);
    emit errorReported(std::nullopt);
    return work_.run(
        this,
        [this, service = simulatorService_]() -> BackgroundWork::Step {
            EnvironmentSnapshot snapshot = service->environment();
            return [this, snapshot = std::move(snapshot)] {
                assign(this, environment_, std::optional(snapshot),
                       &Diagnostics::environmentChanged);
                assign(this, isCheckingEnvironment_, false,
                       &Diagnostics::isCheckingEnvironmentChanged);
            };
        },
        [this](const std::exception_ptr& error) {
            // The snapshot lists problems instead of failing; should it fail all the same,
            // the check must not look as if it were still running.
            emit errorReported(userMessage(error));
            assign(this, isCheckingEnvironment_, false, &Diagnostics::isCheckingEnvironmentChanged);
        },
        BackgroundWork::Reach::host);
}

QFuture<void> Diagnostics::saveDiagnostics(const QUrl& file) {
    emit errorReported(std::nullopt);
    assign(this, savedDiagnostics_, std::optional<std::string>(),
           &Diagnostics::savedDiagnosticsChanged);
    std::optional<std::string> token;
    try {
        token = account_.token();
    } catch (const std::exception&) {
        // Without the token there is nothing of it to take out: it is only ever kept there.
    }
    QFile settingsFile(QString::fromStdString(settings_.file().string()));
    const std::string settings =
        settingsFile.open(QIODevice::ReadOnly) ? settingsFile.readAll().toStdString() : "";
    DiagnosticsSources sources{
        .environment = {},
        .launches = launchHistory_ ? launchHistory_->lines() : std::vector<std::string>(),
        .settings = settings,
        .version = QCoreApplication::applicationVersion().toStdString(),
        .token = std::move(token)};
    const std::filesystem::path path = file.toLocalFile().toStdString();
    return work_.run(
        this,
        [this, service = simulatorService_, sources = std::move(sources),
         path]() mutable -> BackgroundWork::Step {
            sources.environment = service->environment();
            writeDiagnosticsBundle(path, sources);
            return [this, path] {
                assign(this, savedDiagnostics_, std::optional(path.string()),
                       &Diagnostics::savedDiagnosticsChanged);
            };
        },
        [this](const std::exception_ptr& error) { emit errorReported(userMessage(error)); },
        BackgroundWork::Reach::host);
}

QVariant Diagnostics::environmentValue() const {
    return environment_ ? QVariant(toVariantMap(*environment_)) : QVariant();
}

QVariant Diagnostics::savedDiagnosticsValue() const {
    return savedDiagnostics_ ? QVariant(QString::fromStdString(*savedDiagnostics_)) : QVariant();
}

}  // namespace quaylet
