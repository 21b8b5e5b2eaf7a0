#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

namespace quaylet {

// The interface names its pictures by the Mac's system symbol names; on every platform they
// are drawn from one installed icon set, the Adwaita symbolic icons, through this one table,
// except the few that set draws unrecognisably, which the application ships as symbolic SVGs.
class SystemSymbols {
  public:
    static constexpr const char* kIconSet = "Adwaita";

    // A null icon for a symbol the table does not know.
    static QIcon icon(const QString& symbol);

    // Every symbol the table maps, for checking that the installed icon set has them all.
    static QStringList symbols();
};

}  // namespace quaylet
