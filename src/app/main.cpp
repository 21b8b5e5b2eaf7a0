// quaylet-app: the graphical application, a tray item whose pop-up is the main window.
#include <QApplication>
#include <QMessageBox>
#include <QUrl>

#include <cstdio>
#include <stdexcept>
#include <stop_token>

#include "app/Appearance.h"
#include "app/QuayletApp.h"
#include "app/SingleInstance.h"
#include "feature/AppState.h"
#include "feature/BuildNotifier.h"
#include "feature/ServiceBaseURL.h"

namespace {

constexpr const char* kUITestingSwitch = "--ui-testing";

void reportStartUpFailure(const QString& sentence) {
    std::fprintf(stderr, "%s\n", qPrintable(sentence));
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        QMessageBox::critical(nullptr, QStringLiteral("Quaylet"), sentence);
    }
}

// The links the desktop passed on the command line, in order.
QList<QUrl> linksIn(const QStringList& arguments) {
    QList<QUrl> links;
    for (const QString& argument : arguments.mid(1)) {
        if (!argument.startsWith(QLatin1String("--"))) {
            links.append(QUrl(argument));
        }
    }
    return links;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quaylet"));
    QApplication::setApplicationVersion(QStringLiteral(QUAYLET_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    quaylet::applyAppearance();

    const QStringList arguments = QApplication::arguments();
    const QList<QUrl> links = linksIn(arguments);
    // A link clicked while Quaylet runs starts a second process: it hands the link to the
    // running one and is done.
    quaylet::SingleInstance instance;
    QUrl baseURL;
    try {
        if (instance.claim(links) == quaylet::SingleInstance::Role::handedOver) {
            return 0;
        }
        baseURL = quaylet::serviceBaseURL();
    } catch (const std::runtime_error& failure) {
        reportStartUpFailure(QString::fromStdString(failure.what()));
        return 1;
    }

    // Quitting stops what the service and the tools are doing for the window (the builds list,
    // a sign-in, the diagnostics), so the state's threads end at once rather than when a slow
    // request or tool would have.
    std::stop_source quitting;
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
                     [&quitting] { quitting.request_stop(); });
    quaylet::AppState state(
        baseURL, quaylet::AppState::Collaborators::forThisHost(baseURL, quitting.get_token()));
    quaylet::QuayletApp app(state);
    state.watcher().start(quaylet::BuildNotifier::forThisHost());
    // Started again without links, from the desktop's menu say, the person wants the window.
    QObject::connect(&instance, &quaylet::SingleInstance::linksReceived, &app,
                     [&app](const QList<QUrl>& received) {
                         if (received.isEmpty()) {
                             app.showMainWindow();
                         } else {
                             app.open(received);
                         }
                     });
    if (arguments.contains(QLatin1String(kUITestingSwitch))) {
        app.presentPreviewWindow();
    } else {
        app.showMenuBarItem();
    }
    if (!links.isEmpty()) {
        app.open(links);
    }
    return QApplication::exec();
}
