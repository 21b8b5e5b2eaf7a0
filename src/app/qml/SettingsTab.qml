import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Quaylet

// The preferred simulator and emulator and whether Simulator comes to the front (each saved as
// soon as it changes and read by the next launch), downloaded builds, updates and the account.
Item {
    id: root

    required property AppState appState
    required property UserSettings userSettings
    required property UpdateAction updateAction
    // The status line came up or moved: a scrolling container shows it.
    signal statusShown()

    // No preference first, then the devices of the last diagnosis.
    readonly property var simulatorOptions: [{ "udid": "", "label": "Best available" }]
                                            .concat(simulators.options)
    // The same for the Android emulators of the last diagnosis, in the order it lists them.
    readonly property var emulatorOptions: {
        const android = appState.diagnostics.environment ? appState.diagnostics.environment.android
                                                         : null
        return [{ "name": "", "label": "Automatic" }].concat(
                    (android ? android.emulators : []).map(emulator => ({
                        "name": emulator.name,
                        "label": emulator.apiLevel != null
                                 ? emulator.name + " — API " + emulator.apiLevel : emulator.name
                    })))
    }
    // The outcomes of this tab's own actions that the status line confirms.
    readonly property string confirmation: {
        const detail = appState.launch.activeDetail
        return detail === "Downloaded builds cleared" || detail === "Signed out" ? detail : ""
    }

    // The bounds `quaylet settings` keeps to, checked by the same rule.
    property bool cacheLimitRefused: false
    function setCacheLimit(text) {
        const gigabytes = Number(text.trim())
        cacheLimitRefused = text.trim() === "" || !isFinite(gigabytes)
                || !appState.cache.isValidCacheLimit(gigabytes)
        if (!cacheLimitRefused && gigabytes !== appState.cache.cacheLimitGB)
            appState.cache.setCacheLimit(gigabytes)
    }

    // Sign-in links are only honoured for a sign-in started here, so the state records it
    // before the browser opens; an empty address means it could not, and says why.
    function signIn() {
        const page = appState.account.beginSignIn()
        if (page.toString() !== "")
            Qt.openUrlExternally(page)
    }

    // Counted on disk in the background each time the tab comes into view.
    onVisibleChanged: if (visible) appState.cache.refreshCacheUsage()
    Component.onCompleted: if (visible) appState.cache.refreshCacheUsage()

    implicitWidth: column.implicitWidth + 48
    implicitHeight: column.implicitHeight + 48

    SimulatorChoices {
        id: simulators
        diagnostics: root.appState.diagnostics
    }

    LoginItem {
        id: loginItem
    }

    ColumnLayout {
        id: column
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 24
        spacing: Theme.partSpacing

        SectionHeading {
            objectName: "settingsHeading"
            Layout.fillWidth: true
            eyebrow: Theme.thisComputer.toUpperCase()
            title: "Settings"
            detail: "Choose a Simulator and manage downloads, updates, and GitHub."
        }

        SettingSection {
            Layout.fillWidth: true
            title: "iOS Simulator"

            RowLayout {
                Layout.fillWidth: true
                spacing: 10

                PlainText {
                    Layout.fillWidth: true
                    text: "Preferred Simulator"
                    font.pixelSize: 13
                    color: Theme.primaryText
                }

                // Shows no choice for a stored device that is not available, and leaves
                // the stored value alone until a person picks another.
                ChoiceBox {
                    objectName: "preferredSimulatorChoice"
                    Layout.preferredWidth: 250
                    model: root.simulatorOptions
                    valueRole: "udid"
                    currentIndex: root.simulatorOptions.findIndex(
                                      option => option.udid
                                                === root.userSettings.preferredSimulatorUDID)
                    Accessible.name: "Preferred Simulator"
                    onActivated: index => root.userSettings.preferredSimulatorUDID = valueAt(index)
                }
            }

            Divider {}

            RowLayout {
                Layout.fillWidth: true
                spacing: 10

                PlainText {
                    Layout.fillWidth: true
                    text: "Bring Simulator to the front"
                    font.pixelSize: 13
                    color: Theme.primaryText
                }

                SettingSwitch {
                    objectName: "activateSimulatorSwitch"
                    checked: root.userSettings.activateSimulator
                    Accessible.name: "Bring Simulator to the front"
                    onToggled: root.userSettings.activateSimulator = checked
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 10

                PlainText {
                    Layout.fillWidth: true
                    text: "Start the simulator while downloading"
                    font.pixelSize: 13
                    color: Theme.primaryText
                }

                SettingSwitch {
                    objectName: "bootEarlySwitch"
                    checked: root.userSettings.startSimulatorWhileDownloading
                    Accessible.name: "Start the simulator while downloading"
                    onToggled: root.userSettings.startSimulatorWhileDownloading = checked
                }
            }

            RowLayout {
                objectName: "saveErrorLine"
                Layout.fillWidth: true
                visible: root.userSettings.saveError !== ""
                spacing: 6

                SymbolIcon {
                    Layout.alignment: Qt.AlignTop
                    symbol: "exclamationmark.triangle.fill"
                    color: Theme.red
                }

                PlainText {
                    objectName: "saveErrorText"
                    Layout.fillWidth: true
                    text: root.userSettings.saveError
                    font.pixelSize: 12
                    color: Theme.red
                    wrapMode: Text.Wrap
                }
            }
        }

        SettingSection {
            Layout.fillWidth: true
            title: "Android Emulator"

            RowLayout {
                Layout.fillWidth: true
                spacing: 10

                PlainText {
                    Layout.fillWidth: true
                    text: "Preferred emulator"
                    font.pixelSize: 13
                    color: Theme.primaryText
                }

                // As the simulator's choice: a stored emulator that is not listed shows no choice and
                // is kept.
                ChoiceBox {
                    objectName: "preferredEmulatorChoice"
                    Layout.preferredWidth: 250
                    model: root.emulatorOptions
                    valueRole: "name"
                    currentIndex: root.emulatorOptions.findIndex(
                                      option => option.name
                                                === root.userSettings.preferredEmulator)
                    Accessible.name: "Preferred emulator"
                    onActivated: index => root.userSettings.preferredEmulator = valueAt(index)
                }
            }
        }

        SettingSection {
            Layout.fillWidth: true
            title: "Storage and updates"

            ActionRow {
                Layout.fillWidth: true
                title: root.appState.cache.cacheSize != null
                       ? "Downloaded builds \u00b7 " + root.appState.cache.cacheSize : "Downloaded builds"
                titleObjectName: "cacheSizeText"
                detail: root.appState.cache.cacheLimitGB > 0
                        ? "Quaylet keeps up to " + root.appState.cache.cacheLimitGB
                          + " GB of verified builds so they reopen faster, removing the least recently opened first."
                        : "Quaylet keeps verified builds so they reopen faster."
                detailObjectName: "cacheLimitText"
                buttonText: "Clear cache"
                buttonObjectName: "clearCacheButton"
                disabled: root.appState.launch.isLaunchInProgress
                // The same outcome again changes nothing the line could follow.
                onActivated: {
                    root.appState.cache.clearDownloadCache()
                    statusLine.reveal()
                }
            }

            Divider {}

            RowLayout {
                Layout.fillWidth: true
                spacing: 8

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 2

                    PlainText {
                        text: "Cache limit"
                        font.pixelSize: 13
                        font.weight: Font.Medium
                        color: Theme.primaryText
                    }

                    PlainText {
                        objectName: "cacheLimitHint"
                        Layout.fillWidth: true
                        text: root.cacheLimitRefused ? appState.cache.cacheLimitRange()
                                                     : "0 keeps every build."
                        font.pixelSize: 12
                        color: root.cacheLimitRefused ? Theme.red : Theme.secondaryText
                        wrapMode: Text.Wrap
                    }
                }

                InputField {
                    objectName: "cacheLimitField"
                    implicitWidth: 80
                    horizontalAlignment: TextInput.AlignRight
                    // Shows the stored limit again once the person leaves the field.
                    text: root.appState.cache.cacheLimitGB
                    Accessible.name: "Cache limit in gigabytes"
                    onEditingFinished: {
                        root.setCacheLimit(text)
                        if (!root.cacheLimitRefused)
                            text = Qt.binding(() => root.appState.cache.cacheLimitGB)
                    }
                }

                PlainText {
                    text: "GB"
                    font.pixelSize: 13
                    color: Theme.secondaryText
                }
            }

            Divider {}

            ActionRow {
                Layout.fillWidth: true
                title: "Quaylet updates"
                detail: "Quaylet checks for signed updates each day."
                buttonText: "Check now"
                buttonObjectName: "checkNowButton"
                onActivated: root.updateAction.run()
            }

            Divider {}

            RowLayout {
                Layout.fillWidth: true
                spacing: 10

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 2

                    PlainText {
                        text: "Open at login"
                        font.pixelSize: 13
                        font.weight: Font.Medium
                        color: Theme.primaryText
                    }

                    PlainText {
                        objectName: "openAtLoginDetail"
                        Layout.fillWidth: true
                        text: loginItem.error !== ""
                              ? loginItem.error
                              : "Watched pull requests are only watched while Quaylet runs."
                        font.pixelSize: 12
                        color: loginItem.error !== "" ? Theme.red : Theme.secondaryText
                        wrapMode: Text.Wrap
                    }
                }

                // Shows what is installed, also when a change failed.
                SettingSwitch {
                    objectName: "openAtLoginSwitch"
                    checked: loginItem.installed
                    Accessible.name: "Open at login"
                    onToggled: {
                        loginItem.installed = checked
                        checked = Qt.binding(() => loginItem.installed)
                    }
                }
            }
        }

        SettingSection {
            Layout.fillWidth: true
            title: "GitHub account"

            RowLayout {
                Layout.fillWidth: true
                spacing: 8

                SymbolIcon {
                    objectName: "accountIcon"
                    symbol: root.appState.account.isSignedIn ? "checkmark.circle.fill"
                                                     : "person.crop.circle.badge.questionmark"
                    color: root.appState.account.isSignedIn ? Theme.green : Theme.secondaryText
                    size: 14
                }

                PlainText {
                    objectName: "accountStatus"
                    text: root.appState.account.isSignedIn ? "Signed in to GitHub" : "Not signed in"
                    font.pixelSize: 13
                    color: Theme.primaryText
                }

                Item {
                    Layout.fillWidth: true
                }

                ActionButton {
                    objectName: "signOutButton"
                    visible: root.appState.account.isSignedIn
                    text: "Sign Out"
                    destructive: true
                    enabled: !root.appState.launch.isLaunchInProgress
                    onClicked: root.appState.account.signOut()
                }

                ActionButton {
                    objectName: "signInButton"
                    visible: !root.appState.account.isSignedIn
                    text: "Sign in with GitHub"
                    onClicked: root.signIn()
                }
            }
        }

        RowLayout {
            id: statusLine
            objectName: "statusLine"
            Layout.fillWidth: true
            visible: failed || root.confirmation !== ""
            spacing: 6

            readonly property bool failed: root.appState.launch.errorMessage != null
            readonly property string message: failed ? root.appState.launch.errorMessage : root.confirmation
            // Every new outcome is brought into view, not only the first: a line already shown
            // keeps its visibility and place when its text changes, and a wrapped message
            // grows after its place is set. Its place is only final once the layout has run.
            function reveal() {
                if (visible)
                    Qt.callLater(root.statusShown)
            }
            onVisibleChanged: reveal()
            onYChanged: reveal()
            onHeightChanged: reveal()
            onMessageChanged: reveal()

            SymbolIcon {
                objectName: "statusIcon"
                Layout.alignment: Qt.AlignTop
                symbol: statusLine.failed ? "exclamationmark.triangle.fill" : "checkmark.circle.fill"
                color: statusLine.failed ? Theme.red : Theme.secondaryText
            }

            SelectableText {
                objectName: "statusText"
                Layout.fillWidth: true
                text: statusLine.message
                color: statusLine.failed ? Theme.red : Theme.secondaryText
            }
        }
    }
}
