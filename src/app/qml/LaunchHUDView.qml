import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Quaylet

// What the launch panel says about the build just opened from a link: its progress, its
// success, why it failed, or that signing in comes first.
Item {
    id: view

    required property Launch launch
    required property Account account
    // The panel fades out, or sign-in begins; the controller decides what that means.
    signal dismissRequested()
    signal signInRequested()

    readonly property int stage: launch.stage
    // Absent texts reach QML as undefined or null; the loose comparison takes both.
    readonly property bool failed: launch.errorMessage != null
    readonly property bool running: stage === LaunchStage.Running
    readonly property bool needsSignIn: launch.receivedPreviewID != null && !account.isSignedIn
    readonly property bool showsProgress: !failed && !needsSignIn && launch.isLaunchInProgress
    // Where a build runs: an Android build's on an emulator.
    readonly property string device: launch.isAndroid ? "the emulator" : "Simulator"
    readonly property string title: {
        if (failed)
            return "Couldn\u2019t open this build"
        if (needsSignIn)
            return "Sign in once to open this build"
        const name = launch.activeAppName
        if (stage === LaunchStage.Idle)
            return name ?? "Quaylet"
        if (running)
            return (name ?? "Build") + " is running in " + device
        return "Opening " + (name ?? "the build") + " in " + device
    }
    readonly property string subtitle: {
        if (failed)
            return launch.errorMessage
        return launch.downloadDetail ?? launch.repairDetail ?? launch.activeDetail
               ?? (running ? "Ready" : "Getting the build ready")
    }

    // The transparent margin leaves the card's shadow room inside the panel.
    readonly property real outerMargin: 6
    // Whether the desktop blends translucent windows; without that, a soft shadow and a
    // translucent card are drawn over black. The controller sets it.
    property bool composited: true

    implicitWidth: card.implicitWidth + 2 * outerMargin
    implicitHeight: card.implicitHeight + 2 * outerMargin

    // A soft shadow: rings that fade with their distance from the card.
    Repeater {
        model: view.composited ? 5 : 0
        Rectangle {
            required property int index
            readonly property real spread: view.outerMargin * (index + 1) / 5
            x: card.x - spread
            y: card.y - spread + 1
            width: card.width + 2 * spread
            height: card.height + 2 * spread
            radius: card.radius + spread
            color: Qt.rgba(0, 0, 0, 0.035 * (5 - index) / 5)
        }
    }

    AccessibleValue {
        id: card
        objectName: "launchCard"
        readonly property real radius: 14
        anchors.fill: parent
        anchors.margins: view.outerMargin
        implicitWidth: Math.min(440, Math.max(320, row.implicitWidth + row.anchors.leftMargin
                                                   + row.anchors.rightMargin))
        implicitHeight: row.implicitHeight + row.anchors.topMargin + row.anchors.bottomMargin

        // One element for assistive technologies: what happened, then the details, and while
        // a launch runs, how far along it is.
        Accessible.role: Accessible.StaticText
        Accessible.name: view.title + ", " + view.subtitle
                         + (view.showsProgress && view.launch.bootDetail
                            ? ", " + view.launch.bootDetail : "")
        text: view.showsProgress ? Stages.accessibilityValue(view.stage,
                                                              view.launch.launchSource,
                                                              view.launch.isAndroid)
                                 : ""
        fraction: view.showsProgress ? progress.value : undefined
        // Qt's AT-SPI bridge passes the fraction but not the value's words.
        Accessible.description: text

        Rectangle {
            anchors.fill: parent
            radius: card.radius
            // No blur of what lies behind the window is to be had, so the material is a nearly
            // opaque wash of the window background.
            color: Theme.withOpacity(Theme.windowBackground, view.composited ? 0.94 : 1)
            border.width: 1
            border.color: Theme.withOpacity(Theme.primaryText, 0.08)
        }

        RowLayout {
            id: row
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 14
            anchors.topMargin: 10
            anchors.bottomMargin: 10
            spacing: 12

            Rectangle {
                id: glyph
                objectName: "launchGlyph"
                readonly property string symbol: view.failed ? "exclamationmark"
                                                             : view.running ? "checkmark"
                                                                            : "play.fill"
                implicitWidth: 30
                implicitHeight: 30
                radius: 8
                color: view.failed ? Theme.withOpacity(Theme.red, 0.9)
                                   : view.running ? Theme.green : Theme.accentColor
                Accessible.ignored: true

                SymbolIcon {
                    anchors.centerIn: parent
                    symbol: glyph.symbol
                    size: 12
                    color: "white"
                }
            }

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2

                PlainText {
                    objectName: "launchTitle"
                    Layout.fillWidth: true
                    text: view.title
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    color: Theme.primaryText
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    Accessible.ignored: true
                }
                PlainText {
                    objectName: "launchSubtitle"
                    Layout.fillWidth: true
                    text: view.subtitle
                    // Pixel sizes are whole numbers; 11.5 rounds up for legibility.
                    font.pixelSize: 12
                    color: Theme.secondaryText
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    Accessible.ignored: true
                }

                // The simulator started beside the download, while the launch runs.
                PlainText {
                    objectName: "launchBootDetail"
                    Layout.fillWidth: true
                    visible: view.showsProgress && text !== ""
                    text: view.launch.bootDetail ?? ""
                    font.pixelSize: 12
                    color: Theme.secondaryText
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    Accessible.ignored: true
                }
            }

            ActionButton {
                objectName: "dismissButton"
                visible: view.failed
                text: "Dismiss"
                size: "small"
                Accessible.ignored: true
                onClicked: view.dismissRequested()
            }

            ActionButton {
                objectName: "signInButton"
                visible: !view.failed && view.needsSignIn
                text: "Sign in"
                size: "small"
                prominent: true
                Accessible.ignored: true
                onClicked: view.signInRequested()
            }

            ProgressBar {
                id: progress
                objectName: "launchProgress"
                visible: view.showsProgress
                from: 0
                to: 1
                value: view.launch.launchProgress
                Layout.preferredWidth: 72
                Accessible.ignored: true
                background: Rectangle {
                    implicitHeight: 4
                    radius: 2
                    color: Theme.withOpacity(Theme.primaryText, 0.1)
                }
                contentItem: Item {
                    implicitHeight: 4
                    Rectangle {
                        width: progress.visualPosition * parent.width
                        height: parent.height
                        radius: 2
                        color: Theme.accentColor
                    }
                }
            }
        }
    }
}
