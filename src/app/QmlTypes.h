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
