#pragma once

#include <gtest/gtest.h>

#include <QAccessible>
#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QQmlComponent>
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
    BrowserDouble() {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    }
    ~BrowserDouble() override {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    QList<QUrl> openedURLs;

  private slots:
    void open(const QUrl& url) { openedURLs.append(url); }
};

inline QString accessibleText(QObject& object, QAccessible::Text kind) {
    QAccessibleInterface* element = QAccessible::queryAccessibleInterface(&object);
    return element ? element->text(kind) : QString();
}

// Checks what a view shows, its objects found by name with find. The expectations,
// separated by "; ", each read "name" (shown), "!name" (not shown), "name=text" or
// "name.property=value"; a value ending in * is a prefix, and the properties accessibleName
// and accessibleValue are what assistive technologies read.
inline void expectShows(const std::function<QObject*(const QString&)>& find,
                        const QString& expectations) {
    for (const QString& expectation : expectations.split("; ", Qt::SkipEmptyParts)) {
        SCOPED_TRACE(expectation.toStdString());
        const qsizetype equals = expectation.indexOf('=');
        if (equals < 0) {
            const bool hidden = expectation.startsWith('!');
            EXPECT_EQ(QuickScene::isShown(find(expectation.mid(hidden ? 1 : 0))), !hidden);
            continue;
        }
        const QStringList target = expectation.left(equals).split('.');
        QObject* object = find(target.first());
        if (!object) {
            ADD_FAILURE() << "no such object";
            continue;
        }
        const QString property = target.value(1, "text");
        const QString shown =
            property == "accessibleName"    ? accessibleText(*object, QAccessible::Name)
            : property == "accessibleValue" ? accessibleText(*object, QAccessible::Value)
                                            : object->property(property.toLatin1()).toString();
        const QString expected = expectation.mid(equals + 1);
        if (expected.endsWith('*')) {
            EXPECT_TRUE(shown.startsWith(expected.chopped(1))) << shown.toStdString();
        } else {
            EXPECT_EQ(shown.toStdString(), expected.toStdString());
        }
    }
}

inline void expectTextsFitTheir(const QQuickItem& item, const QQuickItem& row) {
    if (!item.isVisible() || item.opacity() == 0) {
        return;
    }
    const QQuickItem& holder = item.inherits("QQuickRowLayout") ? item : row;
    const QString text = item.property("text").toString();
    if (item.inherits("QQuickText") && !text.isEmpty()) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_LE(item.property("contentWidth").toReal(), item.width() + 0.5);
        const QRectF box = item.mapRectToScene(item.boundingRect());
        const QRectF bounds = holder.mapRectToScene(holder.boundingRect());
        EXPECT_GE(box.left(), bounds.left() - 0.5);
        EXPECT_LE(box.right(), bounds.right() + 0.5);
    }
    for (const QQuickItem* child : item.childItems()) {
        expectTextsFitTheir(*child, holder);
    }
}

// Every shown label keeps to its place: its painted text fits its own box, and the box lies
// within the row that holds it (or the window), so nothing runs under a button or off the edge.
inline void expectTextsFitTheirRows(const QQuickItem& root) {
    expectTextsFitTheir(root, *root.window()->contentItem());
}

// One view over a real state driven through the doubles, the settings file the state reads
// too, an update action and a browser double. Screens switch at once (reduced
// motion), so a test reads what the screen settles on.
struct View {
    explicit View(const QString& type = "ContentView", StateDriver::Options options = {})
        : driver(options),
          scene(type, {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                       {"launch", QVariant::fromValue(&driver.state().launch())},
                       {"account", QVariant::fromValue(&driver.state().account())},
                       {"userSettings", QVariant::fromValue(&userSettings)},
                       {"updateAction", QVariant::fromValue(&updates)}}) {
        QQmlComponent setter(qmlEngine(&scene.root()));
        setter.setData(
            "import QtQml\nimport Quaylet\n"
            "QtObject { Component.onCompleted: Theme.reduceMotion = true }",
            QUrl());
        delete setter.create();
    }

    // See expectShows; a name may go through a list row ("row/control").
    void expect(const QString& expectations) {
        expectShows(
            [this](const QString& path) {
                const QStringList names = path.split('/');
                QObject* object = scene.findOrNull(names.first());
                for (qsizetype index = 1; object && index < names.size(); ++index) {
                    object = &QuickScene::find(*object, names[index]);
                }
                return object;
            },
            expectations);
    }

    StateDriver driver;
    UserSettings userSettings;  // made after the driver, so in its settings folder
    UpdateAction updates{[] {}};
    BrowserDouble browser;
    QuickScene scene;
};

}  // namespace quaylet::testing
