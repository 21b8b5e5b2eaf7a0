// The floor of any tray application on this toolkit: an application object and one tray
// icon, nothing else. The application's start-up and idle figures are read against it.
#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QSystemTrayIcon tray(QIcon::fromTheme(QStringLiteral("media-playback-start-symbolic")));
    tray.show();
    return QApplication::exec();
}
