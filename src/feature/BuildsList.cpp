#include "feature/BuildsList.h"

#include <algorithm>

#include "core/errors/UserMessage.h"
#include "feature/MainThread.h"
#include "feature/RecordVariants.h"

namespace quaylet {

BuildsList::BuildsList(BackgroundWork& work, Account& account,
                       std::shared_ptr<PreviewService> previewService, QObject* parent)
    : QAbstractListModel(parent),
      work_(work),
      account_(account),
      previewService_(std::move(previewService)) {}

int BuildsList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(builds_.size());
}

QVariant BuildsList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const PreviewSummary& build = builds_[static_cast<std::size_t>(index.row())];
    const PullRequestWatch* watch = watchOf(build);
    switch (role) {
        case RecordRole:
            return toVariantMap(build);
        case WatchedRole:
            return watch != nullptr;
        case OpensAutomaticallyRole:
            return watch != nullptr && watch->openAutomatically;
        default:
            return {};
    }
}

QHash<int, QByteArray> BuildsList::roleNames() const {
    return {{RecordRole, "record"},
            {WatchedRole, "watched"},
            {OpensAutomaticallyRole, "opensAutomatically"}};
}

QFuture<void> BuildsList::refreshBuilds() {
    const std::optional<std::string> token = account_.token();
    if (!token) {
        setBuilds({});
        return finishedFuture();
    }
    assign(this, isLoading_, true, &BuildsList::isLoadingBuildsChanged);
    return work_.run(
        this,
        [this, service = previewService_, token = *token]() -> BackgroundWork::Step {
            std::vector<PreviewSummary> builds = service->availablePreviews(token);
            return [this, builds = std::move(builds)] {
                emit listed(builds);
                setBuilds(builds);
                assign(this, error_, std::optional<std::string>(), &BuildsList::buildsErrorChanged);
                assign(this, isLoading_, false, &BuildsList::isLoadingBuildsChanged);
            };
        },
        [this](const std::exception_ptr& error) {
            assign(this, error_, userMessage(error), &BuildsList::buildsErrorChanged);
            if (isAuthenticationRequired(error)) {
                account_.forgetToken();
            }
            assign(this, isLoading_, false, &BuildsList::isLoadingBuildsChanged);
        },
        BackgroundWork::Reach::network);
}

void BuildsList::showWatches(const std::vector<PullRequestWatch>& watches) {
    watches_ = watches;
    if (!builds_.empty()) {
        emit dataChanged(index(0), index(rowCount() - 1), {WatchedRole, OpensAutomaticallyRole});
    }
}

const PullRequestWatch* BuildsList::watchOf(const PreviewSummary& build) const {
    const auto found = std::ranges::find_if(
        watches_, [&](const PullRequestWatch& watch) { return watch.isFor(build); });
    return found == watches_.end() ? nullptr : &*found;
}

void BuildsList::setBuilds(std::vector<PreviewSummary> builds) {
    if (builds == builds_) {
        return;
    }
    beginResetModel();
    builds_ = std::move(builds);
    endResetModel();
    emit buildsChanged();
}

QVariantList BuildsList::records() const {
    QVariantList records;
    for (const PreviewSummary& build : builds_) {
        records.append(toVariantMap(build));
    }
    return records;
}

QVariant BuildsList::buildsErrorValue() const {
    return error_ ? QVariant(QString::fromStdString(*error_)) : QVariant();
}

}  // namespace quaylet
