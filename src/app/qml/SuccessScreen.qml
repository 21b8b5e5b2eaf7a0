import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQml.Models
import Quaylet

// The build runs: what runs where, the facts that were checked, a way to run it again, on
// another Simulator from the same unpacked copy, and a way to send the app a link.
Item {
    id: screen

    required property AppState appState
    required property UserSettings userSettings
    // "All builds": the builds list, with this build marked on it.
    signal showBuilds()

    readonly property var report: appState.launch.report
    readonly property var preview: appState.launch.activePreview
    readonly property bool fromPullRequest: preview != null

    // A file URL for a path, every part escaped, so a folder named with "#" or "?" survives.
    function fileURL(path) {
        return "file://" + path.split("/").map(part => encodeURIComponent(part)).join("/")
    }

    function runAgain() {
        if (fromPullRequest) {
            appState.launch.runReceivedPreview()
            return
        }
        // An empty preferred simulator lets the state choose one.
        appState.launch.runLocalApplication(fileURL(report.app.appPath),
                                     userSettings.preferredSimulatorUDID,
                                     userSettings.activateSimulator)
    }

    function openLink() {
        const link = linkField.text.trim()
        if (link !== "")
            appState.launch.openURLInApp(link)
    }

    // What the last link sent to the app became, until another one is typed or the build
    // runs again.
    property string linkConfirmation: ""
    onReportChanged: linkConfirmation = ""
    Connections {
        target: screen.appState.launch
        function onLinkOpened(device) {
            screen.linkConfirmation = "Opened in " + device
            linkField.clear()
        }
    }

    implicitHeight: column.implicitHeight + 48

    SimulatorChoices {
        id: simulators
        diagnostics: screen.appState.diagnostics
    }

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 24
        spacing: 18

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            Rectangle {
                Layout.preferredWidth: 46
                Layout.preferredHeight: 46
                Layout.alignment: Qt.AlignTop
                radius: 10
                color: Theme.withOpacity(Theme.green, 0.12)

                SymbolIcon {
                    anchors.centerIn: parent
                    symbol: "checkmark"
                    size: 18
                    color: Theme.green
                }
            }

            ColumnLayout {
                spacing: 1
                Layout.fillWidth: true

                PlainText {
                    objectName: "successSource"
                    text: screen.fromPullRequest ? "Pull request build"
                                                 : screen.appState.launch.isAndroid ? "Local Android build"
                                                                                    : "Local iOS build"
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    color: Theme.green
                }

                ElidedLine {
                    objectName: "successAppName"
                    text: screen.report ? screen.report.app.displayName : ""
                    font.pixelSize: 27
                    font.weight: Font.DemiBold
                    font.letterSpacing: -0.5
                    color: Theme.primaryText
                    Layout.fillWidth: true
                }

                ElidedLine {
                    objectName: "successSimulator"
                    text: screen.report ? screen.report.simulator.name : ""
                    font.pixelSize: 14
                    color: Theme.secondaryText
                    Layout.fillWidth: true
                }
            }

            Rectangle {
                Layout.alignment: Qt.AlignTop
                implicitWidth: badge.implicitWidth + 16
                implicitHeight: badge.implicitHeight + 8
                radius: height / 2
                color: Theme.withOpacity(Theme.green, 0.12)

                Row {
                    id: badge
                    anchors.centerIn: parent
                    spacing: 5

                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 7
                        height: 7
                        radius: 3.5
                        color: Theme.green
                    }

                    PlainText {
                        text: "Running"
                        font.pixelSize: 11
                        font.weight: Font.DemiBold
                        color: Theme.primaryText
                    }
                }
            }
        }

        // How long each part of the launch took, in one line.
        PlainText {
            objectName: "successTimeline"
            visible: screen.appState.launch.timelineSummary != null
            text: screen.appState.launch.timelineSummary ?? ""
            font.pixelSize: 12
            color: Theme.secondaryText
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Rectangle {
            objectName: "successDetails"
            Layout.fillWidth: true
            implicitHeight: rows.implicitHeight
            radius: 10
            color: Theme.underPageBackground

            Column {
                id: rows
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.leftMargin: 14
                anchors.rightMargin: 14

                MetadataRow {
                    objectName: "pullRequestRow"
                    visible: screen.fromPullRequest
                    width: parent.width
                    label: "Pull request"
                    value: screen.preview ? screen.preview.repository + " #"
                                            + screen.preview.pullRequest : ""
                }
                MetadataRow {
                    objectName: "commitRow"
                    visible: screen.fromPullRequest
                    width: parent.width
                    label: "Commit"
                    value: screen.preview ? screen.preview.commitSha.substring(0, 12) : ""
                }
                MetadataRow {
                    objectName: "appIdentifierRow"
                    width: parent.width
                    label: "App identifier"
                    value: screen.report ? screen.report.app.bundleIdentifier : ""
                }
                MetadataRow {
                    objectName: "statusRow"
                    width: parent.width
                    divided: false
                    label: "Status"
                    value: screen.fromPullRequest ? "Running the pull request build"
                                                  : "App installed"
                    verified: true
                }
            }
        }

        RowLayout {
            spacing: 12
            Layout.fillWidth: true

            ActionButton {
                objectName: "runAgainButton"
                text: "Run again"
                prominent: true
                size: "large"
                onClicked: screen.runAgain()
            }

            PlainText {
                objectName: "successNote"
                text: screen.fromPullRequest ? "This pull request build is running"
                                             : "Local build is running"
                font.pixelSize: 12
                color: Theme.secondaryText
                elide: Text.ElideRight
                Layout.fillWidth: true
            }

            ActionButton {
                objectName: "allBuildsButton"
                visible: screen.appState.account.isSignedIn
                text: "All builds"
                onClicked: screen.showBuilds()
            }
        }

        RowLayout {
            spacing: 8
            Layout.fillWidth: true

            // Another device is iOS Simulator's choice; an Android build runs where it was sent.
            ActionButton {
                id: anotherSimulatorButton
                objectName: "anotherSimulatorButton"
                visible: !screen.appState.launch.isAndroid
                text: "Open on another Simulator…"
                enabled: simulators.options.length > 0 && !screen.appState.launch.isLaunchInProgress
                onClicked: simulatorMenu.open()

                PopupMenu {
                    id: simulatorMenu
                    objectName: "simulatorMenu"
                    button: anotherSimulatorButton

                    Instantiator {
                        model: simulators.options
                        delegate: MenuEntry {
                            required property var modelData
                            readonly property bool current: !!screen.report
                                    && modelData.udid === screen.report.simulator.udid
                            objectName: "simulatorChoice-" + modelData.udid
                            text: modelData.label
                            // The device it runs on already is listed, but not offered.
                            enabled: !current
                            note: current ? "current" : ""
                            onTriggered: screen.appState.launch.runOnSimulator(modelData.udid)
                        }
                        onObjectAdded: (index, object) => simulatorMenu.insertItem(index, object)
                        onObjectRemoved: (index, object) => simulatorMenu.removeItem(object)
                    }
                }
            }

            InputField {
                id: linkField
                objectName: "linkField"
                Layout.fillWidth: true
                placeholder: "Open a link in the app…"
                Accessible.name: "Open a link in the app"
                onAccepted: screen.openLink()
                onTextEdited: screen.linkConfirmation = ""
            }

            ActionButton {
                objectName: "openLinkButton"
                text: "Open"
                enabled: linkField.text.trim() !== ""
                onClicked: screen.openLink()
            }
        }

        RowLayout {
            visible: screen.linkConfirmation !== ""
            spacing: 6
            Layout.fillWidth: true

            SymbolIcon {
                symbol: "checkmark.circle.fill"
                color: Theme.green
            }

            ElidedLine {
                objectName: "linkConfirmation"
                text: screen.linkConfirmation
                font.pixelSize: 12
                color: Theme.secondaryText
                Layout.fillWidth: true
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
