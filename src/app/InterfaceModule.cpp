#include <QCoreApplication>
#include <QLibrary>

#include <stdexcept>

#include "app/QmlWindowMaker.h"

namespace quaylet {

std::unique_ptr<WindowFactory> openInterface() {
    // Beside the program as it is built and as it is installed; never looked up on a search
    // path, so that nobody's library of the same name is loaded instead.
    QLibrary module(QCoreApplication::applicationDirPath() +
                    QStringLiteral("/" QUAYLET_INTERFACE_MODULE));
    using Entry = WindowFactory* (*)();
    const auto entry = reinterpret_cast<Entry>(module.resolve("quayletOpenInterface"));
    if (!entry) {
        throw std::runtime_error("Quaylet’s windows could not be loaded: " +
                                 module.errorString().toStdString());
    }
    // The module stays loaded for the rest of the run: its windows and types live on.
    return std::unique_ptr<WindowFactory>(entry());
}

}  // namespace quaylet
