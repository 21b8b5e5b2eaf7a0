#include "appsupport/QuickScene.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QQmlComponent>

#include <stdexcept>

#include "app/Appearance.h"
#include "app/QmlModule.h"

namespace quaylet::testing {

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
    // The item goes before the window that holds it.
    root_.reset();
    // The scene graph lets go of the item's textures only on a pass of the event loop;
    // without one they would outlive the scene.
    window_->releaseResources();
    QCoreApplication::processEvents();
}

namespace {

// Items a Repeater or a view makes have no object parent, only a visual one, so both trees
// are searched.
QObject* findUnder(QObject& parent, const QString& objectName) {
    if (QObject* found = parent.findChild<QObject*>(objectName)) {
        return found;
    }
    auto* item = qobject_cast<QQuickItem*>(&parent);
    if (!item) {
        return nullptr;
    }
    for (QQuickItem* child : item->childItems()) {
        if (child->objectName() == objectName) {
            return child;
        }
        if (QObject* found = findUnder(*child, objectName)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

QObject* QuickScene::lookUp(const QString& objectName) {
    if (root_->objectName() == objectName) {
        return root_.get();
    }
    // A view made as an item hangs under the window's content only as a visual child.
    QObject* found = findUnder(*root_, objectName);
    return found ? found : findUnder(*window_->contentItem(), objectName);
}

QObject& QuickScene::find(const QString& objectName) {
    QObject* found = lookUp(objectName);
    if (!found) {
        throw std::runtime_error("No object named " + objectName.toStdString());
    }
    return *found;
}

QObject& QuickScene::find(QObject& under, const QString& objectName) {
    QObject* found = findUnder(under, objectName);
    if (!found) {
        throw std::runtime_error("No object named " + objectName.toStdString());
    }
    return *found;
}

bool QuickScene::isShown(const QString& objectName) {
    auto* item = qobject_cast<QQuickItem*>(lookUp(objectName));
    return item && item->isVisible() && item->opacity() > 0;
}

QVariant QuickScene::property(const QString& objectName, const char* name) {
    return find(objectName).property(name);
}

QString QuickScene::text(const QString& objectName) {
    return property(objectName, "text").toString();
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

QuickApplication::QuickApplication(const char* programName)
    : argv_{const_cast<char*>(programName), nullptr} {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setQuitOnLastWindowClosed(false);
    applyAppearance();
}

QuickApplication::~QuickApplication() = default;

}  // namespace quaylet::testing
