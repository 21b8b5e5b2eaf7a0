#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace quaylet::testing {

// Takes the web links the views hand to the desktop while it exists, so that no browser
// starts during a test and the test can see what would have opened.
class OpenedLinks : public QObject {
    Q_OBJECT

  public:
    OpenedLinks();
    ~OpenedLinks() override;

    const QList<QUrl>& urls() const { return urls_; }

  public slots:
    void open(const QUrl& url);

  private:
    QList<QUrl> urls_;
};

}  // namespace quaylet::testing
