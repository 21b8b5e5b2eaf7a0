import QtQuick
import Quaylet

Item {
    required property var appState
    required property UserSettings userSettings
}
