import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Quaylet

// The main window's content: the header with the tab switcher and the application menu,
// and below it the selected tab. The window that hosts it calls shown() and dismissed().
Rectangle {
    id: root

    required property AppState appState
    required property UpdateAction updateAction
    property QtObject launchPanel: null
    property string selectedSection: "Preview"
    readonly property var sections: ["Preview", "Diagnostics", "Settings"]

    // Refreshes what the tabs show each time the window comes up.
    function shown() {
        startUp.start()
    }

    function dismissed() {
        startUp.cancel()
    }

    implicitWidth: 540
    implicitHeight: 560
    color: Theme.windowBackground

    UserSettings {
        // Not named like the tabs' own property: inside a tab built later, that name would
        // mean the tab's property itself.
        id: storedSettings
    }

    StartUpTask {
        id: startUp
        diagnostics: root.appState.diagnostics
        buildsList: root.appState.buildsList
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            objectName: "masthead"
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 11
            Layout.bottomMargin: 11
            spacing: 10

            Rectangle {
                Layout.preferredWidth: 32
                Layout.preferredHeight: 32
                radius: 8
                color: Theme.accentColor
                Accessible.ignored: true

                SymbolIcon {
                    anchors.centerIn: parent
                    anchors.horizontalCenterOffset: 1
                    symbol: "play.fill"
                    size: 11
                    color: "white"
                }
            }

            PlainText {
                text: "Quaylet"
                font.pixelSize: 14
                font.weight: Font.DemiBold
                color: Theme.primaryText
            }

            Item {
                Layout.fillWidth: true
            }

            Rectangle {
                objectName: "sectionPicker"
                implicitWidth: sectionRow.implicitWidth + 6
                implicitHeight: sectionRow.implicitHeight + 6
                radius: 8
                color: Theme.underPageBackground

                Row {
                    id: sectionRow
                    anchors.centerIn: parent
                    spacing: 2

                    Repeater {
                        model: root.sections

                        delegate: AbstractButton {
                            id: tab
                            required property string modelData
                            readonly property bool selected: root.selectedSection === modelData

                            objectName: "section-" + modelData
                            text: modelData
                            padding: 0
                            leftPadding: 10
                            rightPadding: 10
                            topPadding: 4
                            bottomPadding: 4
                            Accessible.role: Accessible.PageTab
                            Accessible.selected: selected
                            onClicked: root.selectedSection = modelData

                            contentItem: PlainText {
                                text: tab.text
                                font.pixelSize: 12
                                font.weight: tab.selected ? Font.DemiBold : Font.Normal
                                color: tab.selected ? Theme.primaryText : Theme.secondaryText
                            }
                            background: Rectangle {
                                radius: 6
                                color: tab.selected ? Theme.controlBackground : "transparent"

                                FocusRing {
                                    shown: tab.visualFocus
                                }
                            }
                        }
                    }
                }
            }

            AbstractButton {
                id: menuButton
                objectName: "applicationMenuButton"
                Layout.preferredWidth: 28
                Layout.preferredHeight: 28
                Accessible.name: "Quaylet menu"
                onClicked: applicationMenu.open()

                contentItem: Item {
                    SymbolIcon {
                        anchors.centerIn: parent
                        symbol: "ellipsis"
                        size: 13
                    }
                }
                background: Item {
                    FocusRing {
                        shown: menuButton.visualFocus
                    }
                }

                PopupMenu {
                    id: applicationMenu
                    objectName: "applicationMenu"
                    button: menuButton

                    MenuEntry {
                        objectName: "checkForUpdatesItem"
                        text: "Check for Updates…"
                        onTriggered: root.updateAction.run()
                    }
                    MenuSeparator {
                        topPadding: 4
                        bottomPadding: 4
                        leftPadding: 6
                        rightPadding: 6
                        contentItem: Rectangle {
                            implicitHeight: 1
                            color: Theme.separator
                        }
                    }
                    MenuEntry {
                        objectName: "signOutItem"
                        text: "Sign Out"
                        visible: root.appState.account.isSignedIn
                        height: visible ? implicitHeight : 0
                        enabled: !root.appState.launch.isLaunchInProgress
                        destructive: true
                        onTriggered: root.appState.account.signOut()
                    }
                    MenuEntry {
                        objectName: "quitItem"
                        text: "Quit Quaylet"
                        onTriggered: Qt.quit()
                    }
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Theme.separator
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: root.sections.indexOf(root.selectedSection)

            PreviewTab {
                objectName: "previewTab"
                appState: root.appState
                userSettings: storedSettings
                launchPanel: root.launchPanel
            }

            // Built when first picked: most openings of the window only look at the preview.
            BuiltWhenShown {
                shown: root.selectedSection === "Diagnostics"
                sourceComponent: ScrollView {
                    ScrollBar.vertical.policy: ScrollBar.AsNeeded
                    contentWidth: availableWidth

                    // Both tabs are named by their files rather than their types, so that
                    // they, and the controls only they use, load when first picked and not
                    // with the window.
                    Loader {
                        width: parent.width
                        Component.onCompleted: setSource("DiagnosticsTab.qml", {
                            objectName: "diagnosticsTab",
                            appState: root.appState,
                            userSettings: storedSettings
                        })
                    }
                }
            }

            BuiltWhenShown {
                shown: root.selectedSection === "Settings"
                sourceComponent: ScrollView {
                    id: settingsScroll
                    ScrollBar.vertical.policy: ScrollBar.AsNeeded
                    contentWidth: availableWidth

                    Loader {
                        id: settingsTab
                        width: parent.width
                        Component.onCompleted: setSource("SettingsTab.qml", {
                            objectName: "settingsTab",
                            appState: root.appState,
                            userSettings: storedSettings,
                            updateAction: root.updateAction
                        })
                    }
                    // The status line at the end confirms what a button above it did.
                    Connections {
                        target: settingsTab.item
                        function onStatusShown() {
                            settingsScroll.contentItem.contentY =
                                    Math.max(0, settingsScroll.contentHeight - settingsScroll.height)
                        }
                    }
                }
            }
        }
    }
}
