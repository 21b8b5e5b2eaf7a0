import QtQuick
import QtQuick.Layouts
import Quaylet

// One build of the list: what it is, and "Run" once it is ready or else how far it got;
// "Watch" for its pull request, and for a watched one whether new builds open at once.
Item {
    id: row

    required property var summary
    required property bool watched
    required property bool opensAutomatically
    required property AppState appState

    readonly property PullRequestWatcher watcher: appState.watcher
    // Only builds for another platform than iOS carry a tag: "Android", or the service's own
    // word for a platform Quaylet does not know.
    readonly property string platformTag: summary.platformTag ?? ""
    // Fetched ahead while no notification could say so.
    readonly property bool fetchedAhead: watcher.readyBuilds.some(
                                             build => build.previewId === summary.previewId)

    implicitHeight: watched ? 70 : 50
    // One element for assistive technologies: what the build is, where it comes from and
    // how far it got; pressing it runs the build, as "Run" does.
    Accessible.role: Accessible.ListItem
    Accessible.name: summary.title + (platformTag ? ", " + platformTag : "") + ", " + detail.text + ", "
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
            objectName: "platformTag"
            visible: row.platformTag !== ""
            implicitWidth: platformText.implicitWidth + 12
            implicitHeight: platformText.implicitHeight + 4
            Layout.maximumWidth: 96
            radius: 4
            color: "transparent"
            border.width: 1
            border.color: Theme.separator

            PlainText {
                id: platformText
                objectName: "platformTagText"
                anchors.centerIn: parent
                width: Math.min(implicitWidth, parent.width - 12)
                text: row.platformTag
                elide: Text.ElideRight
                font.pixelSize: 11
                font.weight: Font.Medium
                color: Theme.secondaryText
                Accessible.ignored: true
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
            enabled: !row.appState.launch.isLaunchInProgress
            Accessible.ignored: true
            onClicked: row.appState.launch.open(row.summary.previewId)
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
                text: row.summary.statusWord
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
