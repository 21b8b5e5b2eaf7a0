import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Quaylet

// A launch under way: which build, how far along, and the five steps of the road.
Item {
    id: screen

    required property AppState appState

    readonly property int stage: appState.launch.stage
    readonly property int source: appState.launch.launchSource
    readonly property bool android: appState.launch.isAndroid
    readonly property int step: Stages.step(stage, source)

    implicitHeight: column.implicitHeight + 2 * column.anchors.margins

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 24
        spacing: 0

        RowLayout {
            Layout.fillWidth: true

            Rectangle {
                Layout.preferredWidth: 46
                Layout.preferredHeight: 46
                radius: 10
                color: Theme.withOpacity(Theme.accentColor, 0.12)

                SymbolIcon {
                    anchors.centerIn: parent
                    symbol: "arrow.down.app.fill"
                    size: 18
                    color: Theme.accentColor
                }
            }

            Item {
                Layout.fillWidth: true
            }

            PlainText {
                objectName: "stepCounter"
                text: screen.step + " of 5"
                font.pixelSize: 12
                font.weight: Font.Medium
                color: Theme.secondaryText
                padding: 4
            }
        }

        PlainText {
            objectName: "openingIn"
            text: screen.android ? "Opening in the Android emulator" : "Opening in iOS Simulator"
            font.pixelSize: 13
            font.weight: Font.Medium
            color: Theme.accentColor
            Layout.topMargin: 6
        }

        PlainText {
            objectName: "progressAppName"
            text: screen.appState.launch.activeAppName ?? (screen.android ? "Android build" : "iOS build")
            font.pixelSize: 25
            font.weight: Font.DemiBold
            color: Theme.primaryText
            elide: Text.ElideRight
            Layout.fillWidth: true
        }

        PlainText {
            objectName: "progressDetail"
            text: screen.appState.launch.activeDetail ?? "Pull request build"
            font.pixelSize: 12
            color: Theme.secondaryText
            elide: Text.ElideRight
            Layout.fillWidth: true
        }

        ProgressBar {
            id: bar
            objectName: "launchProgress"
            from: 0
            to: 1
            value: screen.appState.launch.launchProgress
            Layout.fillWidth: true
            Layout.topMargin: 20
            Accessible.ignored: true

            AccessibleValue {
                objectName: "launchProgressElement"
                anchors.fill: parent
                text: Stages.accessibilityValue(screen.stage, screen.source, screen.android)
                fraction: bar.value
                Accessible.role: Accessible.ProgressBar
                Accessible.name: "Launch progress"
                // Qt's AT-SPI bridge passes the fraction but not the value's words.
                Accessible.description: text
            }

            background: Rectangle {
                implicitHeight: 5
                radius: 2.5
                color: Theme.underPageBackground
            }
            contentItem: Item {
                implicitHeight: 5

                Rectangle {
                    width: bar.visualPosition * parent.width
                    height: parent.height
                    radius: 2.5
                    color: Theme.accentColor
                }
            }
        }

        PlainText {
            objectName: "stageTitle"
            text: Stages.title(screen.stage, screen.android)
            font.pixelSize: 13
            font.weight: Font.DemiBold
            color: Theme.primaryText
            Layout.topMargin: 9
        }

        LaunchPipeline {
            objectName: "launchPipeline"
            stage: screen.stage
            source: screen.source
            android: screen.android
            currentStep: screen.step
            liveDetail: screen.appState.launch.downloadDetail ?? screen.appState.launch.repairDetail ?? ""
            Layout.fillWidth: true
            Layout.topMargin: 8
        }

        // The simulator started beside the download; a device's name is the user's own text,
        // whole in a tooltip when it is cut.
        ElidedLine {
            objectName: "bootDetail"
            Layout.fillWidth: true
            Layout.topMargin: 4
            visible: text !== ""
            text: screen.appState.launch.bootDetail ?? ""
            font.pixelSize: 11
            color: Theme.secondaryText
        }

        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: 8
        }

        RowLayout {
            Layout.fillWidth: true

            SymbolIcon {
                symbol: "checkmark.shield"
                size: 12
                color: Theme.secondaryText
            }

            // Quaylet only drives the emulator and adb: Android Studio is left alone too.
            PlainText {
                objectName: "progressFooter"
                text: screen.android ? "Your branch and Android Studio stay untouched."
                                     : "Your branch and Xcode window stay untouched."
                font.pixelSize: 12
                font.weight: Font.Medium
                color: Theme.secondaryText
            }

            Item {
                Layout.fillWidth: true
            }

            ActionButton {
                objectName: "cancelButton"
                visible: screen.source === LaunchSource.Remote
                text: "Cancel"
                onClicked: screen.appState.launch.cancelLaunch()
            }
        }
    }
}
