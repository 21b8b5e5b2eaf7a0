import QtQuick

// The one label of the views. Titles, names, branches and messages come from pull requests,
// the service and bundles, and are shown as the characters they are: read as markup, an
// <img> in a title would fetch from wherever its author likes and tags would restyle the views.
Text {
    textFormat: Text.PlainText
}
