#include "feature/RecordVariants.h"

#include <QDateTime>
#include <QStringList>

#include <chrono>

namespace quaylet {
namespace {

QVariant text(const std::string& value) {
    return QString::fromStdString(value);
}

QVariant text(const std::optional<std::string>& value) {
    return value ? text(*value) : QVariant();
}

QVariant texts(const std::vector<std::string>& values) {
    QStringList list;
    for (const auto& value : values) {
        list.append(QString::fromStdString(value));
    }
    return list;
}

QVariant date(const Timestamp& value) {
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(value.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(milliseconds.count(), Qt::UTC);
}

QVariant date(const std::optional<Timestamp>& value) {
    return value ? date(*value) : QVariant();
}

QVariantMap toVariantMap(const SimulatorRuntime& runtime) {
    return {
        {"identifier", text(runtime.identifier)},
        {"name", text(runtime.name)},
        {"version", QString::fromStdString(runtime.version.description())},
        {"isAvailable", runtime.isAvailable},
    };
}

QVariantMap toVariantMap(const SimulatorDevice& device) {
    return {
        {"udid", text(device.udid)},
        {"name", text(device.name)},
        {"state", text(device.state)},
        {"isAvailable", device.isAvailable},
        {"runtime", toVariantMap(device.runtime)},
    };
}

QVariantMap toVariantMap(const SimulatorInventory& inventory) {
    QVariantList runtimes;
    for (const auto& runtime : inventory.runtimes) {
        runtimes.append(toVariantMap(runtime));
    }
    QVariantList devices;
    for (const auto& device : inventory.devices) {
        devices.append(toVariantMap(device));
    }
    return {{"runtimes", runtimes}, {"devices", devices}};
}

QVariantMap toVariantMap(const AppMetadata& app) {
    return {
        {"appPath", QString::fromStdString(app.appPath.string())},
        {"bundleIdentifier", text(app.bundleIdentifier)},
        {"displayName", text(app.displayName)},
        {"executableName", text(app.executableName)},
        {"minimumOSVersion", QString::fromStdString(app.minimumOSVersion.description())},
        {"architectures", texts(app.architectures)},
        {"fixtureVersion", text(app.fixtureVersion)},
    };
}

QVariantMap toVariantMap(const AndroidEnvironment& android) {
    QVariantList emulators;
    for (const AndroidEmulator& emulator : android.emulators) {
        emulators.append(QVariantMap{
            {"name", text(emulator.name)},
            {"apiLevel", emulator.apiLevel ? QVariant(*emulator.apiLevel) : QVariant()},
            {"abi", text(emulator.abi)},
            {"serial", text(emulator.serial)},
            {"isRunning", emulator.isRunning()},
        });
    }
    return {
        {"sdkFolder", text(android.sdkFolder)},
        {"isInstalled", android.isInstalled},
        {"adbVersion", text(android.adbVersion)},
        {"emulatorVersion", text(android.emulatorVersion)},
        {"emulators", emulators},
        {"notice", text(android.notice)},
    };
}

}  // namespace

QVariantMap toVariantMap(const EnvironmentSnapshot& snapshot) {
    return {
        {"xcodePath", text(snapshot.xcodePath)},
        {"simctlPath", text(snapshot.simctlPath)},
        {"architecture", text(snapshot.architecture)},
        {"simulatorWindow", text(snapshot.simulatorWindow)},
        {"inventory",
         snapshot.inventory ? QVariant(toVariantMap(*snapshot.inventory)) : QVariant()},
        {"failures", texts(snapshot.failures)},
        {"isReady", snapshot.isReady()},
        {"android", toVariantMap(snapshot.android)},
    };
}

QVariantMap toVariantMap(const SelfTestReport& report) {
    QVariantMap timings;
    for (const auto& [step, seconds] : report.timings) {
        timings.insert(QString::fromStdString(step), seconds);
    }
    return {
        {"app", toVariantMap(report.app)},
        {"simulator", toVariantMap(report.simulator)},
        {"installedContainer", text(report.installedContainer)},
        {"installedFixtureVersion", text(report.installedFixtureVersion)},
        {"screenshotPath", text(report.screenshotPath)},
        {"timings", timings},
        {"passed", report.passed()},
    };
}

QVariantMap toVariantMap(const PreviewManifest& manifest) {
    return {
        {"schemaVersion", QVariant::fromValue(manifest.schemaVersion)},
        {"previewId", text(manifest.previewID)},
        {"repository", text(manifest.repository)},
        {"pullRequest", QVariant::fromValue(manifest.pullRequest)},
        {"commitSha", text(manifest.commitSha)},
        {"branch", text(manifest.branch)},
        {"scheme", text(manifest.scheme)},
        {"configuration", text(manifest.configuration)},
        {"status", QString::fromUtf8(toString(manifest.status))},
        {"bundleId", text(manifest.bundleId)},
        {"displayName", text(manifest.displayName)},
        {"minimumOSVersion", text(manifest.minimumOSVersion)},
        {"platform", text(manifest.platform)},
        {"architectures", texts(manifest.architectures)},
        {"xcodeVersion", text(manifest.xcodeVersion)},
        {"artifactSize", QVariant::fromValue(manifest.artifactSize)},
        {"sha256", text(manifest.sha256)},
        {"createdAt", date(manifest.createdAt)},
        {"readyAt", date(manifest.readyAt)},
        {"expiresAt", date(manifest.expiresAt)},
    };
}

QVariantMap toVariantMap(const PreviewSummary& summary) {
    return {
        {"id", text(summary.id())},
        {"previewId", text(summary.previewID)},
        {"repository", text(summary.repository)},
        {"pullRequest", QVariant::fromValue(summary.pullRequest)},
        {"pullRequestTitle", text(summary.pullRequestTitle)},
        {"branch", text(summary.branch)},
        {"commitSha", text(summary.commitSha)},
        {"displayName", text(summary.displayName)},
        {"minimumOSVersion", text(summary.minimumOSVersion)},
        {"platform", text(summary.platform)},
        {"platformTag", text(summary.platformTag())},
        {"status", text(summary.status)},
        {"createdAt", date(summary.createdAt)},
        {"readyAt", date(summary.readyAt)},
        {"expiresAt", date(summary.expiresAt)},
        {"isReady", summary.isReady()},
        {"title", text(summary.title())},
        {"statusWord", statusWord(summary)},
    };
}

QString statusWord(const PreviewSummary& summary) {
    QStringList words = QString::fromStdString(summary.status).split(QLatin1Char(' '));
    for (QString& word : words) {
        word = word.left(1).toUpper() + word.mid(1).toLower();
    }
    return words.join(QLatin1Char(' '));
}

}  // namespace quaylet
