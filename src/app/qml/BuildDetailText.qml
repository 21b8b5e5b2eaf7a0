import QtQuick
import Quaylet

// Where a build comes from: repository, pull request and short commit, on one line.
ElidedLine {
    property var summary: null
    // Shown when there is no summary to describe.
    property string fallback

    text: summary ? summary.repository + " · PR #" + summary.pullRequest + " · "
                    + summary.commitSha.substring(0, 7)
                  : fallback
    color: Theme.secondaryText
}
