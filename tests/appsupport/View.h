#pragma once

#include <QAccessible>
#include <QList>
#include <QObject>
#include <QQuickItem>
#include <QStringList>
#include <QUrl>

#include <functional>

#include "app/UpdateAction.h"
#include "app/UserSettings.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

namespace quaylet::testing {

// Records the web addresses the views ask the desktop to open, while it lives.
class BrowserDouble : public QObject {
    Q_OBJECT

  public:
    BrowserDouble();
    ~BrowserDouble() override;

    QList<QUrl> openedURLs;

  private slots:
    void open(const QUrl& url) { openedURLs.append(url); }
};

// One view over a real state driven through the doubles, the settings file the state reads
// too, an update action and a browser double. Screens switch at once (reduced
// motion), so a test reads what the screen settles on.
struct View {
    explicit View(const QString& type = "ContentView", StateDriver::Options options = {});

    // See expectShows; a name may go through a list row ("row/control").
    void expect(const QString& expectations);

    StateDriver driver;
    UserSettings userSettings;  // made after the driver, so in its settings folder
    UpdateAction updates{[] {}};
    BrowserDouble browser;
    QuickScene scene;
};

// Checks what a view shows, its objects found by name with find. The expectations,
// separated by "; ", each read "name" (shown), "!name" (not shown), "name=text" or
// "name.property=value"; a value ending in * is a prefix, and the properties accessibleName
// and accessibleValue are what assistive technologies read.
void expectShows(const std::function<QObject*(const QString&)>& find, const QString& expectations);

// Every shown label keeps to its place: its painted text fits its own box, and the box lies
// within the row that holds it (or the window), so nothing runs under a button or off the edge.
void expectTextsFitTheirRows(const QQuickItem& root);

}  // namespace quaylet::testing
