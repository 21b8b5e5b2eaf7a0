import QtQuick
import QtQuick.Layouts
import Quaylet

// The Preview tab: the error banner after a failure, and below it the one screen that the
// launch and the account call for. The tab keeps no state of its own.
Item {
    id: root

    required property AppState appState
    required property UserSettings userSettings
    property QtObject launchPanel: null

    // The builds list was asked for over a running build; a new outcome is shown again.
    property bool browsingBuilds: false
    Connections {
        target: root.appState.launch
        function onReportChanged() { root.browsingBuilds = false }
    }

    // Keys the transition: the first of these that holds decides the screen. A running build
    // stays at its stage while the list is looked at.
    readonly property string screenID: appState.launch.report != null && !browsingBuilds ? "running"
                                       : appState.launch.stage !== LaunchStage.Idle && appState.launch.report == null
                                         ? "progress"
                                       : appState.account.isSignedIn ? "home"
                                       : "idle"

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        ErrorBanner {
            objectName: "errorBanner"
            visible: root.appState.launch.errorMessage != null
            message: root.appState.launch.errorMessage ?? ""
            // The panel cannot take the keyboard focus: when it shows the same error, it goes
            // with the banner.
            onDismissed: {
                if (root.launchPanel?.offeredAction === "dismiss")
                    root.launchPanel.hide()
                root.appState.launch.dismissError()
            }
            Layout.fillWidth: true
            Layout.leftMargin: 18
            Layout.rightMargin: 18
            Layout.topMargin: 14
        }

        // Where the failed launch stopped, and how long each step before it took.
        PlainText {
            objectName: "timelineStop"
            visible: root.appState.launch.errorMessage != null && root.appState.launch.timelineStop != null
            text: root.appState.launch.timelineStop
                  ? root.appState.launch.timelineStop.stoppedAt
                    + (root.appState.launch.timelineStop.stepsBefore !== ""
                       ? " after " + root.appState.launch.timelineStop.stepsBefore : "")
                  : ""
            font.pixelSize: 12
            color: Theme.secondaryText
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Layout.leftMargin: 18
            Layout.rightMargin: 18
            Layout.topMargin: 6
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            TransitionedScreen {
                id: successSlot
                shown: root.screenID === "running"

                SuccessScreen {
                    objectName: "successScreen"
                    width: successSlot.availableWidth
                    height: Math.max(implicitHeight, successSlot.availableHeight)
                    appState: root.appState
                    userSettings: root.userSettings
                    onShowBuilds: root.browsingBuilds = true
                }
            }

            TransitionedScreen {
                id: progressSlot
                shown: root.screenID === "progress"

                ProgressScreen {
                    objectName: "progressScreen"
                    width: progressSlot.availableWidth
                    height: Math.max(implicitHeight, progressSlot.availableHeight)
                    appState: root.appState
                }
            }

            TransitionedScreen {
                id: homeSlot
                shown: root.screenID === "home"

                HomeScreen {
                    objectName: "homeScreen"
                    width: homeSlot.availableWidth
                    height: Math.max(implicitHeight, homeSlot.availableHeight)
                    appState: root.appState
                    onShowRunningBuild: root.browsingBuilds = false
                }
            }

            TransitionedScreen {
                id: welcomeSlot
                shown: root.screenID === "idle"

                WelcomeScreen {
                    objectName: "welcomeScreen"
                    width: welcomeSlot.availableWidth
                    height: Math.max(implicitHeight, welcomeSlot.availableHeight)
                    appState: root.appState
                }
            }
        }
    }
}
