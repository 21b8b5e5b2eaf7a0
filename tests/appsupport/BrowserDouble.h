#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace quaylet::testing {

// Stands in for the desktop's default browser while it exists: the web pages the views ask
// the desktop to open are recorded here instead of opened.
class BrowserDouble : public QObject {
    Q_OBJECT

  public:
    BrowserDouble();
    ~BrowserDouble() override;

    const QList<QUrl>& openedPages() const { return openedPages_; }

  public slots:
    void open(const QUrl& page);

  private:
    QList<QUrl> openedPages_;
};

}  // namespace quaylet::testing
