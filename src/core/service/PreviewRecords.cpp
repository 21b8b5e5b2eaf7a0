#include "core/service/PreviewRecords.h"

#include "core/errors/DecodingError.h"
#include "core/service/AbsoluteURL.h"
#include "core/service/BuildPlatform.h"
#include "core/support/InternetDateTime.h"
#include "core/support/JsonReader.h"

namespace quaylet {
namespace {

using Kind = DecodingError::Kind;

// The readers below each turn one JSON value into one field's type, beside the shared ones.

Timestamp readDate(JsonValue value, const std::string& path) {
    const auto date = parseInternetDateTime(readString(value, path));
    if (!date) {
        throw DecodingError(Kind::dataCorrupted, path, "Invalid ISO-8601 date");
    }
    return *date;
}

std::string readURL(JsonValue value, const std::string& path) {
    std::string text = readString(value, path);
    if (!parseAbsoluteURL(text)) {
        throw DecodingError(Kind::dataCorrupted, path, "Invalid URL string.");
    }
    return text;
}

PreviewStatus readStatus(JsonValue value, const std::string& path) {
    const std::string text = readString(value, path);
    const auto status = previewStatusFromString(text);
    if (!status) {
        throw DecodingError(Kind::dataCorrupted, path,
                            "Cannot read a preview status from the value \"" + text + "\".");
    }
    return *status;
}

PreviewSummary readSummary(JsonValue value, const std::string& path) {
    const JsonObjectReader object(value, path);
    return PreviewSummary{
        .previewID = object.required("previewId", readString),
        .repository = object.required("repository", readString),
        .pullRequest = object.required("pullRequest", readInteger),
        .pullRequestTitle = object.optional("pullRequestTitle", readString),
        .branch = object.required("branch", readString),
        .commitSha = object.required("commitSha", readString),
        .displayName = object.required("displayName", readString),
        .minimumOSVersion = object.required("minimumOSVersion", readString),
        .platform = object.optional("platform", readString),
        .status = object.required("status", readString),
        .createdAt = object.required("createdAt", readDate),
        .readyAt = object.optional("readyAt", readDate),
        .expiresAt = object.optional("expiresAt", readDate),
    };
}

}  // namespace

std::string_view toString(PreviewStatus status) {
    switch (status) {
        case PreviewStatus::creating:
            return "creating";
        case PreviewStatus::uploading:
            return "uploading";
        case PreviewStatus::ready:
            return "ready";
        case PreviewStatus::failed:
            return "failed";
        case PreviewStatus::expired:
            return "expired";
        case PreviewStatus::deleted:
            return "deleted";
    }
    return {};
}

std::optional<PreviewStatus> previewStatusFromString(std::string_view text) {
    for (const PreviewStatus status : kAllPreviewStatuses) {
        if (toString(status) == text) {
            return status;
        }
    }
    return std::nullopt;
}

const std::string& PreviewSummary::title() const {
    return pullRequestTitle && !pullRequestTitle->empty() ? *pullRequestTitle : branch;
}

std::optional<std::string> PreviewSummary::platformTag() const {
    if (!platform || platform->empty()) {
        return std::nullopt;
    }
    const std::optional<BuildPlatform> known = buildPlatformFromString(*platform);
    if (!known) {
        return *platform;
    }
    return *known == BuildPlatform::android ? std::optional<std::string>("Android") : std::nullopt;
}

PreviewManifest PreviewManifest::decode(std::string_view json) {
    return readJsonDocument(json, [](JsonValue document, const std::string& path) {
        const JsonObjectReader object(document, path);
        std::string platform = object.required("platform", readString);
        // An Android build is built without Xcode, so its manifest may name none.
        std::string xcodeVersion = buildPlatformFromString(platform) == BuildPlatform::android
                                       ? object.optional("xcodeVersion", readString).value_or("")
                                       : object.required("xcodeVersion", readString);
        return PreviewManifest{
            .schemaVersion = object.required("schemaVersion", readInteger),
            .previewID = object.required("previewId", readString),
            .repository = object.required("repository", readString),
            .pullRequest = object.required("pullRequest", readInteger),
            .commitSha = object.required("commitSha", readString),
            .branch = object.required("branch", readString),
            .scheme = object.required("scheme", readString),
            .configuration = object.required("configuration", readString),
            .status = object.required("status", readStatus),
            .bundleId = object.required("bundleId", readString),
            .displayName = object.required("displayName", readString),
            .minimumOSVersion = object.required("minimumOSVersion", readString),
            .platform = std::move(platform),
            .architectures = object.required("architectures", readList(readString)),
            .xcodeVersion = std::move(xcodeVersion),
            .artifactSize = object.required("artifactSize", readInteger),
            .sha256 = object.required("sha256", readString),
            .createdAt = object.required("createdAt", readDate),
            .readyAt = object.optional("readyAt", readDate),
            .expiresAt = object.optional("expiresAt", readDate),
        };
    });
}

PreviewListResponse PreviewListResponse::decode(std::string_view json) {
    return readJsonDocument(json, [](JsonValue document, const std::string& path) {
        const JsonObjectReader object(document, path);
        return PreviewListResponse{.previews = object.required("previews", readList(readSummary))};
    });
}

ArtifactURLResponse ArtifactURLResponse::decode(std::string_view json) {
    return readJsonDocument(json, [](JsonValue document, const std::string& path) {
        const JsonObjectReader object(document, path);
        return ArtifactURLResponse{
            .url = object.required("url", readURL),
            .expiresAt = object.required("expiresAt", readDate),
            .direct = object.required("direct", readBoolean),
        };
    });
}

MacAuthResponse MacAuthResponse::decode(std::string_view json) {
    return readJsonDocument(json, [](JsonValue document, const std::string& path) {
        const JsonObjectReader object(document, path);
        return MacAuthResponse{
            .token = object.required("token", readString),
            .expiresIn = object.required("expiresIn", readInteger),
        };
    });
}

}  // namespace quaylet
