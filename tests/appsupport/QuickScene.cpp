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
}

QObject& QuickScene::find(const QString& objectName) {
    if (root_->objectName() == objectName) {
        return *root_;
    }
    QObject* found = root_->findChild<QObject*>(objectName);
    if (!found) {
        found = window_->contentItem()->findChild<QObject*>(objectName);
    }
    if (!found) {
        throw std::runtime_error("No object named " + objectName.toStdString());
    }
    return *found;
}

bool QuickScene::isShown(const QString& objectName) {
    QObject* found = nullptr;
    if (root_->objectName() == objectName) {
        found = root_.get();
    } else if (!(found = root_->findChild<QObject*>(objectName))) {
        found = window_->contentItem()->findChild<QObject*>(objectName);
    }
    auto* item = qobject_cast<QQuickItem*>(found);
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
