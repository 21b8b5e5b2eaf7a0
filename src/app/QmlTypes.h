#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>

#include "app/DesktopPreferences.h"
#include "app/LaunchStages.h"
#include "app/LoginItem.h"
#include "app/SimulatorChoices.h"
#include "app/StartUpTask.h"
#include "app/UpdateAction.h"
#include "app/UserSettings.h"
#include "feature/Account.h"
#include "feature/AppState.h"
#include "feature/BuildsList.h"
#include "feature/Diagnostics.h"
#include "feature/DownloadCache.h"
#include "feature/Launch.h"
#include "feature/PullRequestWatcher.h"

// The C++ types the views use, as the QML module names them. The types themselves live in the
// program, which starts without Qt Qml, so they are registered from here.
namespace quaylet::qml {

struct Desktop {
    Q_GADGET
    QML_FOREIGN(quaylet::DesktopPreferences)
    QML_NAMED_ELEMENT(Desktop)
    QML_SINGLETON
};

struct Stages {
    Q_GADGET
    QML_FOREIGN(quaylet::LaunchStages)
    QML_NAMED_ELEMENT(Stages)
    QML_SINGLETON
};

// The launch's stage and source, as the views compare them: LaunchStage.Idle, LaunchSource.Remote.
struct LaunchStageType {
    Q_GADGET
    QML_FOREIGN(quaylet::LaunchStageKeys)
    QML_NAMED_ELEMENT(LaunchStage)
    QML_UNCREATABLE("Only its keys are used")
};

struct LaunchSourceType {
    Q_GADGET
    QML_FOREIGN(quaylet::LaunchSourceKeys)
    QML_NAMED_ELEMENT(LaunchSource)
    QML_UNCREATABLE("Only its keys are used")
};

// The state and its parts, which the application makes and hands to the views.
struct AppStateType {
    Q_GADGET
    QML_FOREIGN(quaylet::AppState)
    QML_NAMED_ELEMENT(AppState)
    QML_UNCREATABLE("Made by the application")
};

struct AccountType {
    Q_GADGET
    QML_FOREIGN(quaylet::Account)
    QML_NAMED_ELEMENT(Account)
    QML_UNCREATABLE("Part of the application state")
};

struct BuildsListType {
    Q_GADGET
    QML_FOREIGN(quaylet::BuildsList)
    QML_NAMED_ELEMENT(Builds)
    QML_UNCREATABLE("Part of the application state")
};

struct DiagnosticsType {
    Q_GADGET
    QML_FOREIGN(quaylet::Diagnostics)
    QML_NAMED_ELEMENT(Diagnostics)
    QML_UNCREATABLE("Part of the application state")
};

struct DownloadCacheType {
    Q_GADGET
    QML_FOREIGN(quaylet::DownloadCache)
    QML_NAMED_ELEMENT(DownloadCache)
    QML_UNCREATABLE("Part of the application state")
};

struct LaunchType {
    Q_GADGET
    QML_FOREIGN(quaylet::Launch)
    QML_NAMED_ELEMENT(Launch)
    QML_UNCREATABLE("Part of the application state")
};

struct PullRequestWatcherType {
    Q_GADGET
    QML_FOREIGN(quaylet::PullRequestWatcher)
    QML_NAMED_ELEMENT(PullRequestWatcher)
    QML_UNCREATABLE("Part of the application state")
};

struct LoginItemType {
    Q_GADGET
    QML_FOREIGN(quaylet::LoginItem)
    QML_NAMED_ELEMENT(LoginItem)
};

struct SimulatorChoicesType {
    Q_GADGET
    QML_FOREIGN(quaylet::SimulatorChoices)
    QML_NAMED_ELEMENT(SimulatorChoices)
};

struct StartUpTaskType {
    Q_GADGET
    QML_FOREIGN(quaylet::StartUpTask)
    QML_NAMED_ELEMENT(StartUpTask)
};

struct UpdateActionType {
    Q_GADGET
    QML_FOREIGN(quaylet::UpdateAction)
    QML_NAMED_ELEMENT(UpdateAction)
    QML_UNCREATABLE("Made by the application shell")
};

struct UserSettingsType {
    Q_GADGET
    QML_FOREIGN(quaylet::UserSettings)
    QML_NAMED_ELEMENT(UserSettings)
};

}  // namespace quaylet::qml
