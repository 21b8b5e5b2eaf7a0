#include "appsupport/QuickScene.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QQmlComponent>
#include <QTest>

#include <stdexcept>

#include "app/Appearance.h"
#include "app/QmlModule.h"

namespace quaylet::testing {

namespace {

// Views made by repeaters, loaders and pop-ups hang in the item tree but not always in the
// object tree, so both are searched.
QObject* findNamed(QObject* object, const QString& objectName) {
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

QObject& found(QObject* object, const QString& objectName) {
    if (!object) {
        throw std::runtime_error("No object named " + objectName.toStdString());
    }
    return *object;
}

// A person scrolls a control that sits past the edge of its scrolling view into sight before
// clicking it.
void scrollIntoView(QQuickItem& item) {
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

}  // namespace

QuickScene::QuickScene(const QString& type, const QVariantMap& properties) {
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

QuickScene::~QuickScene() {
    // The scene graph lets go of the items' textures only on a pass of the event loop;
    // without one they would outlive the scene.
    window_->releaseResources();
    // The item goes before the window that holds it (or is the window).
    root_.reset();
    QCoreApplication::processEvents();
}

QObject* QuickScene::findOrNull(const QString& objectName) {
    QObject* found = findNamed(root_.get(), objectName);
    return found ? found : findNamed(window_->contentItem(), objectName);
}

QObject& QuickScene::find(const QString& objectName) {
    return found(findOrNull(objectName), objectName);
}

QObject& QuickScene::find(QObject& under, const QString& objectName) {
    return found(findNamed(&under, objectName), objectName);
}

QObject* QuickScene::findOrNull(QObject& under, const QString& objectName) {
    return findNamed(&under, objectName);
}

bool QuickScene::isShown(QObject* object) {
    auto* item = qobject_cast<QQuickItem*>(object);
    return item && item->isVisible() && item->opacity() > 0;
}

QVariant QuickScene::property(const QString& objectName, const char* name) {
    return find(objectName).property(name);
}

QString QuickScene::text(const QString& objectName) {
    return property(objectName, "text").toString();
}

void QuickScene::click(const QString& objectName) {
    click(find(objectName));
}

void QuickScene::click(QObject& object) {
    auto* item = qobject_cast<QQuickItem*>(&object);
    if (!item) {
        throw std::runtime_error(object.objectName().toStdString() + " is not an item");
    }
    scrollIntoView(*item);
    const QPointF middle = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window_, Qt::LeftButton, Qt::NoModifier, middle.toPoint());
    QCoreApplication::processEvents();
}

void QuickScene::saveImage(const std::filesystem::path& file) {
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

QuickApplication::QuickApplication(const char* programName, const char* platform)
    : argv_{const_cast<char*>(programName), nullptr} {
    qputenv("QT_QPA_PLATFORM", platform);
    application_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setQuitOnLastWindowClosed(false);
    applyAppearance();
}

QuickApplication::~QuickApplication() = default;

}  // namespace quaylet::testing
