#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QTest>
#include <QVariantMap>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "app/Appearance.h"
#include "app/QmlModule.h"
#include "support/PrivateSessionBus.h"

namespace quaylet::testing {

// One view of the application's QML module, made the way the application makes it and
// shown in an offscreen window (an item gets a window of its own size).
class QuickScene {
  public:
    QuickScene(const QString& type, const QVariantMap& properties) {
        addApplicationModule(engine_);
        QQmlComponent component(&engine_);
        component.setData(QStringLiteral("import Quaylet\n%1 {}").arg(type).toUtf8(), QUrl());
        if (component.isReady()) {
            root_.reset(component.createWithInitialProperties(properties));
        }
        if (!root_) {
            throw std::runtime_error("Could not make " + type.toStdString() + ": " +
                                     component.errorString().toStdString());
        }
        window_ = qobject_cast<QQuickWindow*>(root_.get());
        if (!window_) {
            auto* item = qobject_cast<QQuickItem*>(root_.get());
            ownWindow_ = std::make_unique<QQuickWindow>();
            ownWindow_->setColor(Qt::transparent);
            item->setParentItem(ownWindow_->contentItem());
            const auto fit = [this, item] {
                ownWindow_->resize(qMax(1, qRound(item->implicitWidth())),
                                   qMax(1, qRound(item->implicitHeight())));
                item->setSize(ownWindow_->size());
            };
            QObject::connect(item, &QQuickItem::implicitWidthChanged, ownWindow_.get(), fit);
            QObject::connect(item, &QQuickItem::implicitHeightChanged, ownWindow_.get(), fit);
            fit();
            window_ = ownWindow_.get();
        }
        window_->show();
        QCoreApplication::processEvents();
    }
    ~QuickScene() {
        // The scene graph lets go of the items' textures only on a pass of the event loop;
        // without one they would outlive the scene.
        window_->releaseResources();
        // The item goes before the window that holds it (or is the window).
        root_.reset();
        QCoreApplication::processEvents();
    }

    QQuickWindow& window() { return *window_; }
    QObject& root() { return *root_; }

    // By objectName, in the scene or inside another object; find throws when there is none.
    QObject& find(const QString& objectName) { return found(findOrNull(objectName), objectName); }
    QObject* findOrNull(const QString& objectName) {
        QObject* found = findNamed(root_.get(), objectName);
        return found ? found : findNamed(window_->contentItem(), objectName);
    }
    static QObject& find(QObject& under, const QString& objectName) {
        return found(findNamed(&under, objectName), objectName);
    }
    static QObject* findOrNull(QObject& under, const QString& objectName) {
        return findNamed(&under, objectName);
    }
    bool isShown(const QString& objectName) { return isShown(findOrNull(objectName)); }
    static bool isShown(QObject* object) {
        auto* item = qobject_cast<QQuickItem*>(object);
        return item && item->isVisible() && item->opacity() > 0;
    }
    QVariant property(const QString& objectName, const char* name) {
        return find(objectName).property(name);
    }
    QString text(const QString& objectName) { return property(objectName, "text").toString(); }
    // Clicks the middle of the item as a person would, so a disabled or hidden control
    // does nothing.
    void click(const QString& objectName) { click(find(objectName)); }
    void click(QObject& object) {
        auto* item = qobject_cast<QQuickItem*>(&object);
        if (!item) {
            throw std::runtime_error(object.objectName().toStdString() + " is not an item");
        }
        scrollIntoView(*item);
        const QPointF middle = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(window_, Qt::LeftButton, Qt::NoModifier, middle.toPoint());
        QCoreApplication::processEvents();
    }

    // Lets animations settle, then writes the window to a PNG file.
    void saveImage(const std::filesystem::path& file) {
        // Transitions run for a fraction of a second; wait them out on the event loop.
        QDeadlineTimer settle(600);
        while (!settle.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        const QImage image = window_->grabWindow();
        if (image.isNull() || !image.save(QString::fromStdString(file.string()))) {
            throw std::runtime_error("Could not write " + file.string());
        }
    }

  private:
    // Views made by repeaters, loaders and pop-ups hang in the item tree but not always in the
    // object tree, so both are searched.
    static QObject* findNamed(QObject* object, const QString& objectName) {
        if (object->objectName() == objectName) {
            return object;
        }
        for (QObject* child : object->children()) {
            if (QObject* found = findNamed(child, objectName)) {
                return found;
            }
        }
        if (auto* item = qobject_cast<QQuickItem*>(object)) {
            for (QQuickItem* child : item->childItems()) {
                if (child->parent() != object) {
                    if (QObject* found = findNamed(child, objectName)) {
                        return found;
                    }
                }
            }
        }
        return nullptr;
    }
    static QObject& found(QObject* object, const QString& objectName) {
        if (!object) {
            throw std::runtime_error("No object named " + objectName.toStdString());
        }
        return *object;
    }
    // A person scrolls a control that sits past the edge of its scrolling view into sight
    // before clicking it.
    static void scrollIntoView(QQuickItem& item) {
        for (QQuickItem* view = item.parentItem(); view; view = view->parentItem()) {
            if (!view->inherits("QQuickFlickable")) {
                continue;
            }
            const QRectF shown = item.mapRectToItem(view, item.boundingRect());
            const qreal contentY = view->property("contentY").toReal();
            if (shown.bottom() > view->height()) {
                view->setProperty("contentY", contentY + shown.bottom() - view->height());
            } else if (shown.top() < 0) {
                view->setProperty("contentY", contentY + shown.top());
            }
            return;
        }
    }

    QQmlEngine engine_;
    std::unique_ptr<QObject> root_;
    QQuickWindow* window_ = nullptr;
    std::unique_ptr<QQuickWindow> ownWindow_;
};

// The application object of a QML test program: offscreen unless another platform is named,
// in the application's style, on a session bus of its own.
class QuickApplication {
  public:
    explicit QuickApplication(const char* programName, const char* platform = "offscreen")
        : argv_{const_cast<char*>(programName), nullptr} {
        qputenv("QT_QPA_PLATFORM", platform);
        application_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);
        applyAppearance();
    }

  private:
    PrivateSessionBus bus_;
    int argc_ = 1;
    char* argv_[2];
    std::unique_ptr<QApplication> application_;
};

}  // namespace quaylet::testing
