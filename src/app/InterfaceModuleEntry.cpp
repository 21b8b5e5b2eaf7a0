// The entry of quaylet-interface, the module the program loads its views from.
#include <QQuickWindow>

#include "app/QmlModule.h"

extern "C" Q_DECL_EXPORT quaylet::WindowFactory* quayletOpenInterface() {
    // A few small flat windows need no GPU: drawing them in software spares the OpenGL stack,
    // which on a machine without a GPU brings a whole shader compiler, about 100 MiB resident
    // as soon as the first window shows.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return new quaylet::QmlWindows();
}
