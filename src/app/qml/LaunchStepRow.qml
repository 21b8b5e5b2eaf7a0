import QtQuick
import QtQuick.Layouts
import Quaylet

// One step of the launch pipeline, read by assistive technology as its title with the value
// of whether it is done, under way or still to come. Not every platform's bridge passes a
// value on (Qt's AT-SPI bridge passes none), so the name says it too, with what the current
// step is doing: "Get, current: 49 MB of 126 MB".
AccessibleValue {
    id: row

    property int number
    property string title
    property int currentStep
    property string detail

    readonly property bool done: currentStep > number
    readonly property bool current: currentStep === number
    readonly property string progressValue: done ? "Complete" : current ? "Current" : "Pending"

    // 44 points would push the progress screen's footer out of the fixed window, whose
    // margins are kept whole.
    implicitHeight: 38
    text: progressValue
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ", " + progressValue.toLowerCase()
                     + (current && detail !== "" ? ": " + detail.split(" · ").join(", ") : "")

    Rectangle {
        anchors.fill: parent
        radius: 9
        color: row.current ? Theme.withOpacity(Theme.accentColor, 0.08) : "transparent"
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 13
        anchors.rightMargin: 13
        spacing: 10

        Rectangle {
            Layout.preferredWidth: 22
            Layout.preferredHeight: 22
            radius: 11
            color: row.currentStep >= row.number ? Theme.accentColor
                                                 : Theme.withOpacity(Theme.separator, 0.7)
            Accessible.ignored: true

            SymbolIcon {
                objectName: row.objectName + "-checkmark"
                visible: row.done
                anchors.centerIn: parent
                symbol: "checkmark"
                size: 10
                color: "white"
            }

            Rectangle {
                objectName: row.objectName + "-dot"
                visible: row.current
                anchors.centerIn: parent
                width: 7
                height: 7
                radius: 3.5
                color: "white"
            }
        }

        ColumnLayout {
            spacing: 1
            Layout.fillWidth: true

            PlainText {
                objectName: row.objectName + "-title"
                text: row.title
                font.pixelSize: 13
                font.weight: row.currentStep >= row.number ? Font.DemiBold : Font.Normal
                color: row.currentStep >= row.number ? Theme.primaryText : Theme.secondaryText
                Layout.fillWidth: true
                Accessible.ignored: true
            }

            PlainText {
                objectName: row.objectName + "-detail"
                visible: row.current
                text: row.detail
                font.pixelSize: 12
                color: Theme.secondaryText
                Layout.fillWidth: true
                Accessible.ignored: true
            }
        }
    }
}
