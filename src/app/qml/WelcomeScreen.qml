import QtQuick
import QtQuick.Layouts
import Quaylet

// Signed out and idle: what the app is for, the way to sign in, and whether this machine
// is ready to run a build.
Item {
    id: screen

    required property AppState appState

    readonly property var environment: appState.diagnostics.environment
    readonly property bool xcodeReady: environment != null && environment.xcodePath != null
    readonly property bool simulatorReady: environment != null && environment.inventory != null
                                           && environment.inventory.devices.some(
                                               device => device.isAvailable)

    function signIn() {
        // The state records the pending sign-in first; only then may the browser start it.
        const url = appState.account.beginSignIn().toString()
        if (url !== "")
            Qt.openUrlExternally(url)
    }

    implicitWidth: column.implicitWidth + 48
    implicitHeight: column.implicitHeight + 48

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 24
        spacing: 0

        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: 30
            Layout.preferredHeight: 30
        }

        Rectangle {
            Layout.preferredWidth: 86
            Layout.preferredHeight: 86
            Layout.alignment: Qt.AlignHCenter
            radius: 43
            color: Theme.withOpacity(Theme.accentColor, 0.11)
            Accessible.ignored: true

            SymbolIcon {
                anchors.centerIn: parent
                symbol: "iphone.gen3.badge.play"
                size: 34
                color: Theme.accentColor
            }
        }

        PlainText {
            objectName: "welcomeTitle"
            text: "Open a pull request build in Simulator"
            font.pixelSize: 28
            font.weight: Font.DemiBold
            font.letterSpacing: -0.65
            color: Theme.primaryText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
            Layout.topMargin: 20
        }

        PlainText {
            objectName: "welcomeDetail"
            text: screen.appState.launch.activeDetail
                  ?? "On GitHub, click Run in iOS Simulator.\nThe matching build opens here automatically."
            font.pixelSize: 14
            color: Theme.primaryText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
            Layout.topMargin: 9
        }

        ActionButton {
            objectName: "signInButton"
            text: "Sign in with GitHub"
            prominent: true
            size: "large"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 22
            onClicked: screen.signIn()
        }

        PlainText {
            text: "You’ll only do this once on " + Theme.thisComputer + "."
            font.pixelSize: 12
            color: Theme.secondaryText
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 7
        }

        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: 26
            Layout.preferredHeight: 26
        }

        Rectangle {
            objectName: "readinessStrip"
            Layout.alignment: Qt.AlignHCenter
            implicitWidth: strip.implicitWidth + 28
            implicitHeight: strip.implicitHeight + 28
            radius: 12
            color: Theme.underPageBackground

            RowLayout {
                id: strip
                anchors.centerIn: parent
                spacing: 14

                ReadinessItem {
                    objectName: "xcodeReadiness"
                    name: "Xcode"
                    ready: screen.xcodeReady
                }

                StripDivider {}

                ReadinessItem {
                    objectName: "simulatorReadiness"
                    name: "Simulator"
                    ready: screen.simulatorReady
                }

                StripDivider {}

                Row {
                    spacing: 5

                    SymbolIcon {
                        anchors.verticalCenter: parent.verticalCenter
                        symbol: "link"
                        size: 12
                        color: Theme.secondaryText
                    }

                    PlainText {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "Waiting for a pull request"
                        font.pixelSize: 12
                        font.weight: Font.Medium
                        color: Theme.secondaryText
                    }
                }
            }
        }
    }

    component StripDivider: Rectangle {
        Layout.preferredWidth: 1
        Layout.preferredHeight: 18
        color: Theme.separator
    }
}
