#pragma once

#include <QJsonObject>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/service/PreviewRecords.h"

namespace quaylet {

// One pull request whose new builds are fetched ahead and announced.
struct PullRequestWatch {
    std::string repository;  // "owner/name"
    std::int64_t pullRequest = 0;
    bool openAutomatically = false;
    // The creation time of the newest ready build already announced or already there when the
    // watch began, to the millisecond; absent when every ready build counts as new.
    std::optional<std::chrono::milliseconds> lastSeenBuild = std::nullopt;
    // When the watch last saw the pull request in the builds list, or began: the quiet time
    // that ends a watch counts from here, never from a build's age.
    std::chrono::milliseconds lastActivity{0};

    bool isFor(const PreviewSummary& build) const {
        return build.repository == repository && build.pullRequest == pullRequest;
    }
    bool isNewer(const PreviewSummary& build) const;

    // "owner/name#42", as the command line takes it and the views name a watch.
    std::string reference() const;

    // Unknown keys are ignored; absent when a needed value is missing or not a plain
    // repository and a positive number.
    static std::optional<PullRequestWatch> fromJson(const QJsonObject& object);
    QJsonObject toJson() const;

    bool operator==(const PullRequestWatch&) const = default;
};

// Milliseconds since the epoch: what a watch keeps of a time, so that a stored time compares
// the same after it was written and read back.
std::chrono::milliseconds toMilliseconds(Timestamp time);

// "owner/name#42": a repository of two plain GitHub names and a positive number.
std::optional<PullRequestWatch> parsePullRequestReference(std::string_view text);

}  // namespace quaylet
