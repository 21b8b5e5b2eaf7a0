import QtQuick
import Quaylet

// "Watch" for one pull request: its new builds are fetched ahead and announced. Watching
// neither starts nor disturbs a launch, so it stays available during one.
SettingSwitch {
    required property PullRequestWatcher watcher
    required property string repository
    required property var pullRequest

    readonly property bool watched: watcher.watched.indexOf(watcher.reference(repository,
                                                                                pullRequest)) >= 0

    objectName: "watchToggle"
    small: true
    text: "Watch"
    checked: watched
    Accessible.name: "Watch " + repository + " pull request " + pullRequest
    onToggled: {
        watcher.setWatched(repository, pullRequest, checked)
        checked = Qt.binding(() => watched)
    }
}
