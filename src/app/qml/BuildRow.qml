import QtQuick
import QtQuick.Layouts
import Quaylet

// One build of the list: what it is, and "Run" once it is ready or else how far it got;
// "Watch" for its pull request, and for a watched one whether new builds open at once.
Item {
    id: row

    required property var summary
    required property var appState

    readonly property var watcher: appState.watcher
    readonly property string reference: summary.repository + "#" + summary.pullRequest
    readonly property bool watched: watcher.watched.indexOf(reference) >= 0
    readonly property bool opensAutomatically: watcher.openingAutomatically.indexOf(reference) >= 0
    // Fetched ahead while no notification could say so.
    readonly property bool fetchedAhead: watcher.readyBuilds.some(
                                             build => build.previewId === summary.previewId)

    // The service's status word with each word capitalised, as "uploading" → "Uploading".
    function capitalised(words) {
        return words.split(" ").map(
                    word => word.charAt(0).toUpperCase() + word.slice(1).toLowerCase()).join(" ")
    }

    implicitHeight: watched ? 70 : 50
    // One element for assistive technologies: what the build is, where it comes from and
    // how far it got; pressing it runs the build, as "Run" does.
    Accessible.role: Accessible.ListItem
    Accessible.name: summary.title + ", " + detail.text + ", "
                     + (runButton.visible ? "Ready" : badgeText.text)
                     + (unfetchedNote.visible ? ", " + unfetchedNote.text : "")
    Accessible.onPressAction: {
        if (runButton.visible && runButton.enabled)
            runButton.clicked()
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 14
        spacing: 10

        Rectangle {
            Layout.preferredWidth: 26
            Layout.preferredHeight: 26
            radius: 7
            color: Theme.withOpacity(Theme.primaryText, 0.85)

            SymbolIcon {
                anchors.centerIn: parent
                symbol: "play.fill"
                size: 9
                color: Theme.windowBackground
            }
        }

        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true

            ElidedLine {
                objectName: "buildTitle"
                text: row.summary.title
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Theme.primaryText
                Layout.fillWidth: true
                Accessible.ignored: true
            }

            BuildDetailText {
                id: detail
                objectName: "buildDetail"
                summary: row.summary
                font.pixelSize: 12  // 11.5 points, rounded to whole pixels
                Layout.fillWidth: true
                Accessible.ignored: true
            }

            RowLayout {
                visible: row.watched
                spacing: 10
                Layout.topMargin: 3
                Layout.fillWidth: true

                SettingSwitch {
                    objectName: "openAutomaticallyToggle"
                    small: true
                    text: "Open automatically"
                    checked: row.opensAutomatically
                    Accessible.name: "Open " + row.summary.repository + " pull request "
                                     + row.summary.pullRequest + " automatically"
                    onToggled: {
                        row.watcher.setOpenAutomatically(row.summary.repository,
                                                         row.summary.pullRequest, checked)
                        checked = Qt.binding(() => row.opensAutomatically)
                    }
                }

                // Why the watch did not fetch this build ahead, as the terminal's watch says.
                ElidedLine {
                    id: unfetchedNote
                    objectName: "unfetchedNote"
                    visible: text !== ""
                    text: row.watcher.unfetchedBuilds[row.summary.previewId] ?? ""
                    font.pixelSize: 11
                    color: Theme.secondaryText
                    Layout.fillWidth: true
                }
            }
        }

        Rectangle {
            objectName: "fetchedAheadBadge"
            visible: row.fetchedAhead
            implicitWidth: fetchedText.implicitWidth + 14
            implicitHeight: fetchedText.implicitHeight + 6
            radius: height / 2
            color: Theme.withOpacity(Theme.accentColor, 0.15)

            PlainText {
                id: fetchedText
                anchors.centerIn: parent
                text: "New"
                font.pixelSize: 11
                font.weight: Font.DemiBold
                color: Theme.accentColor
            }
        }

        ActionButton {
            id: runButton
            objectName: "runButton"
            visible: row.summary.status === "ready"
            text: "Run"
            size: "small"
            enabled: !row.appState.isLaunchInProgress
            Accessible.ignored: true
            onClicked: row.appState.open(row.summary.previewId)
        }

        Rectangle {
            objectName: "statusBadge"
            visible: !runButton.visible
            implicitWidth: badgeText.implicitWidth + 16
            implicitHeight: badgeText.implicitHeight + 6
            radius: height / 2
            color: Theme.withOpacity(Theme.primaryText, 0.06)

            PlainText {
                id: badgeText
                objectName: "statusBadgeText"
                anchors.centerIn: parent
                text: row.capitalised(row.summary.status)
                font.pixelSize: 11
                font.weight: Font.Medium
                color: Theme.primaryText
                Accessible.ignored: true
            }
        }

        WatchToggle {
            watcher: row.watcher
            repository: row.summary.repository
            pullRequest: row.summary.pullRequest
        }
    }
}
