import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Quaylet

// Signed in and idle: the build from the last link, if any, and the builds to pick from.
Item {
    id: screen

    required property AppState appState
    // Back from the list to the build that runs, when one does.
    signal showRunningBuild()

    readonly property var receivedID: appState.launch.receivedPreviewID

    implicitHeight: column.implicitHeight + 36

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 18
        spacing: 14

        CurrentBuildCard {
            objectName: "currentBuildCard"
            visible: screen.receivedID != null
            previewID: screen.receivedID ?? ""
            appState: screen.appState
            Layout.fillWidth: true
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: screen.receivedID != null ? 6 : 2
            Layout.preferredHeight: 22

            PlainText {
                objectName: "buildsTitle"
                text: screen.receivedID != null ? "Other builds you can open" : "Pull request builds"
                font.pixelSize: 13
                color: Theme.primaryText
            }

            Item {
                Layout.fillWidth: true
            }

            ActionButton {
                objectName: "runningBuildButton"
                visible: screen.appState.launch.report != null
                text: "Running build"
                size: "small"
                onClicked: screen.showRunningBuild()
            }

            AbstractButton {
                id: refreshButton
                objectName: "refreshBuildsButton"
                visible: !screen.appState.buildsList.isLoadingBuilds
                Layout.preferredWidth: 22
                Layout.preferredHeight: 22
                Accessible.role: Accessible.Button
                Accessible.name: "Refresh builds"
                onClicked: screen.appState.buildsList.refreshBuilds()

                contentItem: Item {
                    SymbolIcon {
                        anchors.centerIn: parent
                        symbol: "arrow.clockwise"
                        size: 13
                        color: refreshButton.down ? Theme.primaryText : Theme.secondaryText
                    }
                }
                background: Item {
                    FocusRing {
                        shown: refreshButton.visualFocus
                    }
                }
            }

            BusyIndicator {
                objectName: "buildsLoadingIndicator"
                visible: screen.appState.buildsList.isLoadingBuilds
                running: visible
                padding: 0
                Layout.preferredWidth: 16
                Layout.preferredHeight: 16
            }
        }

        BuildsList {
            objectName: "buildsList"
            appState: screen.appState
            Layout.fillWidth: true
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
