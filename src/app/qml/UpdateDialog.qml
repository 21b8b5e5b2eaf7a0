import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Window
import Quaylet

// The outcome of "Check for Updates…": first that a check is under way, then what it found,
// with a button that opens the new version's page in the browser when there is one.
Window {
    id: dialog

    property bool checking: true
    property string heading: ""
    property string message: ""
    property string availableVersion: ""
    property url downloadPage: ""

    readonly property bool offersDownload: !checking && downloadPage.toString() !== ""

    objectName: "updateDialog"
    title: "Software Update"
    width: 420
    height: 150
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    // Above the tray's pop-up, which stays on top of other windows, so that its buttons are
    // never hidden under it.
    flags: Qt.Dialog | Qt.CustomizeWindowHint | Qt.WindowTitleHint | Qt.WindowCloseButtonHint
           | Qt.WindowStaysOnTopHint
    color: Theme.windowBackground

    RowLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 16

        // The application's own glyph.
        Rectangle {
            Layout.alignment: Qt.AlignTop
            implicitWidth: 48
            implicitHeight: 48
            radius: 11
            color: Theme.accentColor
            // The white play triangle of the application's icon.
            Canvas {
                anchors.fill: parent
                onPaint: {
                    const context = getContext("2d")
                    context.fillStyle = "white"
                    context.strokeStyle = "white"
                    context.lineWidth = 3
                    context.lineJoin = "round"
                    context.beginPath()
                    context.moveTo(width * 0.39, height * 0.30)
                    context.lineTo(width * 0.72, height * 0.50)
                    context.lineTo(width * 0.39, height * 0.70)
                    context.closePath()
                    context.fill()
                    context.stroke()
                }
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 6

            PlainText {
                objectName: "updateHeading"
                Layout.fillWidth: true
                text: dialog.checking ? "Checking for updates…" : dialog.heading
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: Theme.primaryText
                wrapMode: Text.Wrap
            }
            PlainText {
                objectName: "updateMessage"
                Layout.fillWidth: true
                visible: !dialog.checking
                text: dialog.message
                font.pixelSize: 11
                color: Theme.secondaryText
                wrapMode: Text.Wrap
            }
            // A segment sweeping a thin track, as the window's other bars are drawn; it stands
            // still with reduced motion.
            ProgressBar {
                id: progress
                objectName: "updateProgress"
                Layout.fillWidth: true
                visible: dialog.checking
                indeterminate: true
                background: Rectangle {
                    implicitHeight: 4
                    radius: 2
                    color: Theme.withOpacity(Theme.primaryText, 0.1)
                }
                contentItem: Item {
                    implicitHeight: 4
                    clip: true

                    Rectangle {
                        id: sweep
                        width: parent.width * 0.3
                        height: parent.height
                        radius: 2
                        color: Theme.accentColor

                        NumberAnimation on x {
                            running: progress.visible && !Theme.reduceMotion
                            from: -sweep.width
                            to: progress.availableWidth
                            duration: 1200
                            loops: Animation.Infinite
                        }
                    }
                }
            }
            Item {
                Layout.fillHeight: true
            }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                spacing: 8

                ActionButton {
                    objectName: "updateCloseButton"
                    text: dialog.checking ? "Close" : dialog.offersDownload ? "Later" : "OK"
                    prominent: !dialog.offersDownload && !dialog.checking
                    onClicked: dialog.close()
                }
                ActionButton {
                    objectName: "updateDownloadButton"
                    visible: dialog.offersDownload
                    text: "Download Quaylet " + dialog.availableVersion
                    prominent: true
                    onClicked: {
                        Qt.openUrlExternally(dialog.downloadPage)
                        dialog.close()
                    }
                }
            }
        }
    }
}
