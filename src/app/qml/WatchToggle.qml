import QtQuick
import Quaylet

// "Watch" for one pull request: its new builds are fetched ahead and announced. Watching
// neither starts nor disturbs a launch, so it stays available during one.
ActionButton {
    id: toggle

    required property var watcher
    required property string repository
    required property var pullRequest

    readonly property bool watched: watcher.watched.indexOf(repository + "#" + pullRequest) >= 0

    objectName: "watchToggle"
    size: "small"
    symbol: "eye"
    text: watched ? "Watching" : "Watch"
    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: watched
    Accessible.name: "Watch pull request " + pullRequest
    onClicked: watcher.setWatched(repository, pullRequest, !watched)

    background: Rectangle {
        implicitHeight: 20
        radius: 6
        color: toggle.watched ? Theme.withOpacity(Theme.accentColor, 0.15)
                              : toggle.down ? Theme.underPageBackground : Theme.controlBackground
        border.width: 1
        border.color: toggle.watched ? Theme.withOpacity(Theme.accentColor, 0.45)
                                     : Theme.withOpacity(Theme.primaryText, 0.15)
    }
}
