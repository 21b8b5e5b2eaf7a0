#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The preview service's JSON records. Each decode() reads one answer body with the strict
// reader of core/support/JsonReader.h and throws DecodingError, naming the key path and the
// reason, when the body breaks any of that reader's rules or these:
// - dates are RFC 3339 with or without fractional seconds (parseInternetDateTime);
// - URLs must parse, with a scheme and a host.
namespace quaylet {

using Timestamp = std::chrono::system_clock::time_point;

// The life-cycle state of a preview build, carried as an exact, case-sensitive string.
enum class PreviewStatus { creating, uploading, ready, failed, expired, deleted };

inline constexpr std::array kAllPreviewStatuses = {
    PreviewStatus::creating, PreviewStatus::uploading, PreviewStatus::ready,
    PreviewStatus::failed,   PreviewStatus::expired,   PreviewStatus::deleted,
};

std::string_view toString(PreviewStatus status);
std::optional<PreviewStatus> previewStatusFromString(std::string_view text);

// The full description of one preview build.
struct PreviewManifest {
    std::int64_t schemaVersion = 0;
    std::string previewID;
    std::string repository;
    std::int64_t pullRequest = 0;
    std::string commitSha;
    std::string branch;
    std::string scheme;
    std::string configuration;
    PreviewStatus status = PreviewStatus::creating;
    std::string bundleId;
    std::string displayName;
    std::string minimumOSVersion;
    std::string platform;
    std::vector<std::string> architectures;
    std::string xcodeVersion;
    std::int64_t artifactSize = 0;
    std::string sha256;
    Timestamp createdAt;
    std::optional<Timestamp> readyAt;
    std::optional<Timestamp> expiresAt;

    static PreviewManifest decode(std::string_view json);
    bool operator==(const PreviewManifest&) const = default;
};

// One entry of the builds list. Its status is free text: the list shows whatever the
// service says, and only "ready" means the build can be opened.
struct PreviewSummary {
    std::string previewID;
    std::string repository;
    std::int64_t pullRequest = 0;
    std::optional<std::string> pullRequestTitle;
    std::string branch;
    std::string commitSha;
    std::string displayName;
    std::string minimumOSVersion;
    // As the manifest names it; absent from a service that predates Android builds.
    std::optional<std::string> platform;
    std::string status;
    Timestamp createdAt;
    std::optional<Timestamp> readyAt;
    std::optional<Timestamp> expiresAt;

    const std::string& id() const { return previewID; }
    bool isReady() const { return status == "ready"; }
    // The pull request's title when it has a non-empty one, else the branch.
    const std::string& title() const;
    // What the list tags the build with: absent for an iOS build (a build without a platform
    // is one), "Android", or an unknown platform's name as the service gave it, which
    // Quaylet cannot open.
    std::optional<std::string> platformTag() const;

    bool operator==(const PreviewSummary&) const = default;
};

struct PreviewListResponse {
    std::vector<PreviewSummary> previews;

    static PreviewListResponse decode(std::string_view json);
    bool operator==(const PreviewListResponse&) const = default;
};

// Where a build archive can be fetched without further credentials.
struct ArtifactURLResponse {
    std::string url;
    Timestamp expiresAt;
    bool direct = false;

    static ArtifactURLResponse decode(std::string_view json);
    bool operator==(const ArtifactURLResponse&) const = default;
};

// The answer of the sign-in code exchange.
struct MacAuthResponse {
    std::string token;
    std::int64_t expiresIn = 0;

    static MacAuthResponse decode(std::string_view json);
    bool operator==(const MacAuthResponse&) const = default;
};

}  // namespace quaylet
