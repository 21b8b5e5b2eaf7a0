#pragma once

#include <QApplication>
#include <QObject>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QVariantMap>

#include <filesystem>
#include <memory>

#include "support/PrivateSessionBus.h"

namespace quaylet::testing {

// One view of the application's QML module, made the way the application makes it and
// shown in an offscreen window (an item gets a window of its own size).
class QuickScene {
  public:
    QuickScene(const QString& type, const QVariantMap& properties);
    ~QuickScene();

    QQuickWindow& window() { return *window_; }
    QObject& root() { return *root_; }

    // By objectName, in the scene or inside another object; find throws when there is none.
    QObject& find(const QString& objectName);
    QObject* findOrNull(const QString& objectName);
    static QObject& find(QObject& under, const QString& objectName);
    static QObject* findOrNull(QObject& under, const QString& objectName);
    bool isShown(const QString& objectName) { return isShown(findOrNull(objectName)); }
    static bool isShown(QObject* object);
    QVariant property(const QString& objectName, const char* name);
    QString text(const QString& objectName);
    // Clicks the middle of the item as a person would, so a disabled or hidden control
    // does nothing.
    void click(const QString& objectName);
    void click(QObject& object);

    // Lets animations settle, then writes the window to a PNG file.
    void saveImage(const std::filesystem::path& file);

  private:
    QQmlEngine engine_;
    std::unique_ptr<QObject> root_;
    QQuickWindow* window_ = nullptr;
    std::unique_ptr<QQuickWindow> ownWindow_;
};

// The application object of a QML test program: offscreen unless another platform is named,
// in the application's style, on a session bus of its own.
class QuickApplication {
  public:
    explicit QuickApplication(const char* programName, const char* platform = "offscreen");
    ~QuickApplication();

  private:
    PrivateSessionBus bus_;
    int argc_ = 1;
    char* argv_[2];
    std::unique_ptr<QApplication> application_;
};

}  // namespace quaylet::testing
