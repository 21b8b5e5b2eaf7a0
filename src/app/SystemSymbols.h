#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QUrl>

namespace quaylet {

// The interface names its pictures by the Mac's system symbol names; on every platform they
// are drawn from one installed icon set, the Adwaita symbolic icons, through this one table,
// except the few that set draws unrecognisably, which the application ships as symbolic SVGs.
class SystemSymbols : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* kIconSet = "Adwaita";

    // The icon set's name for a symbol; empty for a symbol the table does not know or that
    // the application ships.
    Q_INVOKABLE static QString iconName(const QString& symbol);
    // The shipped picture of a symbol; empty for the icon set's.
    Q_INVOKABLE static QUrl shippedSource(const QString& symbol);
    static QIcon icon(const QString& symbol);

    // Every symbol the table maps, for checking that the installed icon set has them all.
    static QStringList symbols();
};

}  // namespace quaylet
