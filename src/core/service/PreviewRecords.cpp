#include "core/service/PreviewRecords.h"

#include <cmath>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>

#include "core/errors/DecodingError.h"
#include "core/service/AbsoluteURL.h"
#include "core/support/InternetDateTime.h"

namespace quaylet {
namespace {

using Json = nlohmann::json;
using Kind = DecodingError::Kind;

std::string describeType(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null:
            return "null";
        case Json::value_t::boolean:
            return "a boolean";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float:
            return "a number";
        case Json::value_t::string:
            return "a string";
        case Json::value_t::array:
            return "an array";
        case Json::value_t::object:
            return "an object";
        default:
            return "an unreadable value";
    }
}

DecodingError typeMismatch(const std::string& path, const char* expected, const Json& found) {
    return DecodingError(
        Kind::typeMismatch, path,
        std::string("Expected ") + expected + " but found " + describeType(found) + " instead.");
}

std::string memberPath(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string elementPath(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

// The readers below each turn one JSON value into one field's type.

std::string readString(const Json& value, const std::string& path) {
    if (!value.is_string()) {
        throw typeMismatch(path, "a string", value);
    }
    return value.get<std::string>();
}

bool readBoolean(const Json& value, const std::string& path) {
    if (!value.is_boolean()) {
        throw typeMismatch(path, "a boolean", value);
    }
    return value.get<bool>();
}

std::int64_t readInteger(const Json& value, const std::string& path) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
            throw DecodingError(Kind::dataCorrupted, path,
                                "The number " + value.dump() + " does not fit in 64 bits.");
        }
        return std::int64_t(number);
    }
    if (value.is_number_float()) {
        // A written-out fraction such as 3.0 is an integer, but only where a double holds
        // every integer exactly; beyond 2^53 the digits sent may not be the value read.
        constexpr double kLargestExactInteger = 9007199254740992.0;
        const double number = value.get<double>();
        if (std::trunc(number) != number || std::fabs(number) > kLargestExactInteger) {
            throw DecodingError(Kind::dataCorrupted, path,
                                "The number " + value.dump() + " is not an integer.");
        }
        return std::int64_t(number);
    }
    throw typeMismatch(path, "an integer", value);
}

Timestamp readDate(const Json& value, const std::string& path) {
    const auto date = parseInternetDateTime(readString(value, path));
    if (!date) {
        throw DecodingError(Kind::dataCorrupted, path, "Invalid ISO-8601 date");
    }
    return *date;
}

std::string readURL(const Json& value, const std::string& path) {
    std::string text = readString(value, path);
    if (!parseAbsoluteURL(text)) {
        throw DecodingError(Kind::dataCorrupted, path, "Invalid URL string.");
    }
    return text;
}

PreviewStatus readStatus(const Json& value, const std::string& path) {
    const std::string text = readString(value, path);
    const auto status = previewStatusFromString(text);
    if (!status) {
        throw DecodingError(Kind::dataCorrupted, path,
                            "Cannot read a preview status from the value \"" + text + "\".");
    }
    return *status;
}

template <typename Read>
auto readList(Read readElement) {
    return [readElement](const Json& value, const std::string& path) {
        if (!value.is_array()) {
            throw typeMismatch(path, "an array", value);
        }
        std::vector<decltype(readElement(value, path))> elements;
        elements.reserve(value.size());
        for (std::size_t index = 0; index < value.size(); ++index) {
            elements.push_back(readElement(value[index], elementPath(path, index)));
        }
        return elements;
    };
}

// One JSON object and where it sits in the document.
class ObjectReader {
  public:
    ObjectReader(const Json& value, std::string path) : object_(value), path_(std::move(path)) {
        if (!object_.is_object()) {
            throw typeMismatch(path_, "an object", object_);
        }
    }

    template <typename Read>
    auto required(std::string_view key, Read read) const {
        const std::string path = memberPath(path_, key);
        const auto member = object_.find(key);
        if (member == object_.end()) {
            throw DecodingError(Kind::keyNotFound, path,
                                "No value associated with the key \"" + std::string(key) + "\".");
        }
        if (member->is_null()) {
            throw DecodingError(Kind::valueNotFound, path, "Expected a value but found null.");
        }
        return read(*member, path);
    }

    template <typename Read>
    auto optional(std::string_view key, Read read) const
        -> std::optional<decltype(read(std::declval<const Json&>(), std::string()))> {
        const auto member = object_.find(key);
        if (member == object_.end() || member->is_null()) {
            return std::nullopt;
        }
        return read(*member, memberPath(path_, key));
    }

  private:
    const Json& object_;
    std::string path_;
};

PreviewSummary readSummary(const Json& value, const std::string& path) {
    const ObjectReader object(value, path);
    return PreviewSummary{
        .previewId = object.required("previewId", readString),
        .repository = object.required("repository", readString),
        .pullRequest = object.required("pullRequest", readInteger),
        .pullRequestTitle = object.optional("pullRequestTitle", readString),
        .branch = object.required("branch", readString),
        .commitSha = object.required("commitSha", readString),
        .displayName = object.required("displayName", readString),
        .minimumOSVersion = object.required("minimumOSVersion", readString),
        .status = object.required("status", readString),
        .createdAt = object.required("createdAt", readDate),
        .readyAt = object.optional("readyAt", readDate),
        .expiresAt = object.optional("expiresAt", readDate),
    };
}

// The whole body as one JSON document; text that is not JSON fails with the parser's reason.
// The parser reports a number too large for a double as out_of_range rather than parse_error,
// so every exception of the library counts.
Json parseDocument(std::string_view json) {
    try {
        return Json::parse(json);
    } catch (const Json::exception& error) {
        throw DecodingError(Kind::dataCorrupted, "", error.what());
    }
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

PreviewManifest PreviewManifest::decode(std::string_view json) {
    const Json document = parseDocument(json);
    const ObjectReader object(document, "");
    return PreviewManifest{
        .schemaVersion = object.required("schemaVersion", readInteger),
        .previewId = object.required("previewId", readString),
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
        .platform = object.required("platform", readString),
        .architectures = object.required("architectures", readList(readString)),
        .xcodeVersion = object.required("xcodeVersion", readString),
        .artifactSize = object.required("artifactSize", readInteger),
        .sha256 = object.required("sha256", readString),
        .createdAt = object.required("createdAt", readDate),
        .readyAt = object.optional("readyAt", readDate),
        .expiresAt = object.optional("expiresAt", readDate),
    };
}

PreviewListResponse PreviewListResponse::decode(std::string_view json) {
    const Json document = parseDocument(json);
    const ObjectReader object(document, "");
    return PreviewListResponse{.previews = object.required("previews", readList(readSummary))};
}

ArtifactURLResponse ArtifactURLResponse::decode(std::string_view json) {
    const Json document = parseDocument(json);
    const ObjectReader object(document, "");
    return ArtifactURLResponse{
        .url = object.required("url", readURL),
        .expiresAt = object.required("expiresAt", readDate),
        .direct = object.required("direct", readBoolean),
    };
}

MacAuthResponse MacAuthResponse::decode(std::string_view json) {
    const Json document = parseDocument(json);
    const ObjectReader object(document, "");
    return MacAuthResponse{
        .token = object.required("token", readString),
        .expiresIn = object.required("expiresIn", readInteger),
    };
}

}  // namespace quaylet
