#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace quaylet::testing {

// Stands in for the browser while it lives: the web addresses the views ask the desktop
// to open are recorded here instead of opened.
class BrowserDouble : public QObject {
    Q_OBJECT

  public:
    BrowserDouble();
    ~BrowserDouble() override;

    const QList<QUrl>& openedURLs() const { return openedURLs_; }

  private slots:
    void open(const QUrl& url);

  private:
    QList<QUrl> openedURLs_;
};

}  // namespace quaylet::testing
