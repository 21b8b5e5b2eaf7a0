// quaylet-app: the graphical application, a tray item whose pop-up is the main window.
#include <QApplication>
#include <QMessageBox>
#include <QUrl>

#include <cstdio>
#include <stdexcept>

#include "app/Appearance.h"
#include "app/QuayletApp.h"
#include "feature/AppState.h"
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

    QUrl baseURL;
    try {
        baseURL = quaylet::serviceBaseURL();
    } catch (const std::runtime_error& failure) {
        reportStartUpFailure(QString::fromStdString(failure.what()));
        return 1;
    }

    quaylet::AppState state(baseURL);
    quaylet::QuayletApp app(state);
    const QStringList arguments = QApplication::arguments();
    if (arguments.contains(QLatin1String(kUITestingSwitch))) {
        app.presentPreviewWindow();
    } else {
        app.showMenuBarItem();
    }
    // A start without links is no request to open anything, so the launch panel stays away.
    if (const QList<QUrl> links = linksIn(arguments); !links.isEmpty()) {
        app.open(links);
    }
    return QApplication::exec();
}
