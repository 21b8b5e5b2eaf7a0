#pragma once

#include <QAbstractListModel>
#include <QFuture>
#include <QVariant>

#include <optional>
#include <string>
#include <vector>

#include "core/service/PreviewRecords.h"
#include "feature/Account.h"
#include "feature/BackgroundWork.h"
#include "feature/PreviewService.h"
#include "feature/PullRequestWatch.h"

namespace quaylet {

// The signed-in user's builds as the service lists them, one row each, with whether the row's
// pull request is watched. A token the service refuses signs the account out.
class BuildsList : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY buildsChanged)
    // The rows as the records QML reads, for a look-up by preview identifier.
    Q_PROPERTY(QVariantList records READ records NOTIFY buildsChanged)
    Q_PROPERTY(bool isLoadingBuilds READ isLoadingBuilds NOTIFY isLoadingBuildsChanged)
    Q_PROPERTY(QVariant buildsError READ buildsErrorValue NOTIFY buildsErrorChanged)

  public:
    enum Role { RecordRole = Qt::UserRole + 1, WatchedRole, OpensAutomaticallyRole };

    BuildsList(BackgroundWork& work, Account& account,
               std::shared_ptr<PreviewService> previewService, QObject* parent = nullptr);

    const std::vector<PreviewSummary>& builds() const { return builds_; }
    bool isLoadingBuilds() const { return isLoading_; }
    const std::optional<std::string>& buildsError() const { return error_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE QFuture<void> refreshBuilds();
    // The watches the rows show.
    void showWatches(const std::vector<PullRequestWatch>& watches);

  signals:
    void buildsChanged();
    void isLoadingBuildsChanged();
    void buildsErrorChanged();
    // A fresh list arrived, before the rows show it.
    void listed(const std::vector<PreviewSummary>& builds);

  private:
    QVariantList records() const;
    QVariant buildsErrorValue() const;
    const PullRequestWatch* watchOf(const PreviewSummary& build) const;
    void setBuilds(std::vector<PreviewSummary> builds);

    BackgroundWork& work_;
    Account& account_;
    std::shared_ptr<PreviewService> previewService_;
    std::vector<PreviewSummary> builds_;
    std::vector<PullRequestWatch> watches_;
    bool isLoading_ = false;
    std::optional<std::string> error_;
};

}  // namespace quaylet
