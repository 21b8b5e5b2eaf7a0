#include "core/service/PreviewAPIClient.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "core/errors/DecodingError.h"
#include "core/errors/QuayletError.h"
#include "core/service/AbsoluteURL.h"
#include "core/service/PreviewIdentifier.h"

namespace quaylet {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr std::chrono::seconds kRecordTimeLimit(60);
constexpr const char* kAcceptJSON = "accept: application/json";
constexpr const char* kContentTypeJSON = "content-type: application/json";
constexpr const char* kBuildNotLoaded =
    "This build couldn’t be loaded. Check your connection, then try again.";
constexpr const char* kSignInFailed = "GitHub sign-in could not be completed.";
constexpr const char* kSignOutFailed =
    "GitHub sign-out failed. Check your connection, then try again.";
constexpr const char* kDownloadFailed =
    "The build couldn’t be downloaded. Check your connection, then try again.";

// The service's base URL; a base that is not absolute with a host, or that is plain http to
// another computer, is a programming error: the caller checks the address it is given.
CurlURL parseBaseURL(const std::string& text) {
    CurlURL url = parseAbsoluteURL(text);
    if (!url || !isPermittedURL(text, true)) {
        throw std::invalid_argument("The preview service address \"" + text +
                                    "\" is not an https URL or an http URL of this computer.");
    }
    return url;
}

bool isOnLoopback(const CurlURL& url) {
    char* host = nullptr;
    curl_url_get(url.get(), CURLUPART_HOST, &host, 0);
    const bool loopback = host != nullptr && isLoopbackHost(host);
    curl_free(host);
    return loopback;
}

bool isSuccess(long status) {
    return status >= 200 && status <= 299;
}

std::string authorization(const std::string& token) {
    return "authorization: Bearer " + token;
}

// The service's own explanation: {"error": {"message": "..."}}, or the stock sentence.
std::string serviceMessage(const std::string& body) {
    const Json document = Json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (document.is_object()) {
        const auto error = document.find("error");
        if (error != document.end() && error->is_object()) {
            const auto message = error->find("message");
            if (message != error->end() && message->is_string()) {
                return message->get<std::string>();
            }
        }
    }
    return kBuildNotLoaded;
}

// Compact JSON text, or absent when a string in it is not valid UTF-8.
std::optional<std::string> encode(const Json& object) {
    try {
        return object.dump();
    } catch (const Json::type_error&) {
        return std::nullopt;
    }
}

// A file being downloaded, beside its destination so the final move is a rename on one file
// system. Removed unless moved into place.
class PartialFile {
  public:
    explicit PartialFile(const fs::path& destination) {
        std::string pattern = (destination.parent_path() /
                               ("." + destination.filename().string() + ".partial-XXXXXX"))
                                  .string();
        descriptor_ = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (descriptor_ < 0) {
            throw fs::filesystem_error("Couldn’t create a file for the download", destination,
                                       std::error_code(errno, std::system_category()));
        }
        path_ = pattern;
    }
    ~PartialFile() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        if (!path_.empty()) {
            std::error_code ignored;  // best effort: the failure that got us here matters more
            fs::remove(path_, ignored);
        }
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    void write(std::string_view piece) {
        while (!piece.empty()) {
            const ssize_t written = ::write(descriptor_, piece.data(), piece.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written < 0) {
                fail("Couldn’t save the download");
            }
            piece.remove_prefix(std::size_t(written));
        }
    }

    void moveTo(const fs::path& destination) {
        const int descriptor = std::exchange(descriptor_, -1);
        if (::close(descriptor) != 0) {
            fail("Couldn’t save the download");
        }
        std::error_code ignored;  // whatever was there goes; a failure shows in the rename
        fs::remove(destination, ignored);
        fs::rename(path_, destination);
        path_.clear();
    }

  private:
    [[noreturn]] void fail(const char* what) const {
        throw fs::filesystem_error(what, path_, std::error_code(errno, std::system_category()));
    }

    int descriptor_ = -1;
    fs::path path_;
};

}  // namespace

PreviewAPIClient::PreviewAPIClient(std::string baseURL, const HTTPSession& session)
    : baseURL_(std::move(baseURL)),
      session_(session),
      serviceOnLoopback_(isOnLoopback(parseBaseURL(baseURL_))) {}

std::string PreviewAPIClient::resolve(std::string_view path) const {
    // Every path starts with "/", so it replaces the base URL's path and query.
    const CurlURL url = parseBaseURL(baseURL_);
    char* resolved = nullptr;
    if (curl_url_set(url.get(), CURLUPART_URL, std::string(path).c_str(), 0) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK) {
        throw std::invalid_argument("Cannot resolve \"" + std::string(path) + "\" against " +
                                    baseURL_);
    }
    std::string result(resolved);
    curl_free(resolved);
    return result;
}

std::string PreviewAPIClient::previewURL(const std::string& id, std::string_view suffix) const {
    if (!isPreviewIdentifier(id)) {
        throw QuayletError::invalidDeepLink();
    }
    return resolve("/api/v1/previews/" + id + std::string(suffix));
}

template <typename Record>
Record PreviewAPIClient::fetchRecord(HTTPMethod method, const std::string& url,
                                     const std::string& token, std::stop_token stop) const {
    const HTTPResponse response = session_.send(HTTPRequest{method,
                                                            url,
                                                            {authorization(token), kAcceptJSON},
                                                            std::nullopt,
                                                            kRecordTimeLimit,
                                                            serviceOnLoopback_},
                                                stop);
    if (isSuccess(response.status)) {
        return Record::decode(response.body);
    }
    if (response.status == 401) {
        throw QuayletError::authenticationRequired();
    }
    throw QuayletError::serviceError(response.status, serviceMessage(response.body));
}

PreviewManifest PreviewAPIClient::preview(const std::string& id, const std::string& token,
                                          std::stop_token stop) const {
    return fetchRecord<PreviewManifest>(HTTPMethod::get, previewURL(id, ""), token, stop);
}

std::vector<PreviewSummary> PreviewAPIClient::listPreviews(const std::string& token,
                                                           std::int64_t limit,
                                                           std::stop_token stop) const {
    return fetchRecord<PreviewListResponse>(
               HTTPMethod::get, resolve("/api/v1/previews?limit=" + std::to_string(limit)), token,
               stop)
        .previews;
}

ArtifactURLResponse PreviewAPIClient::artifactURL(const std::string& id, const std::string& token,
                                                  std::stop_token stop) const {
    return fetchRecord<ArtifactURLResponse>(HTTPMethod::post, previewURL(id, "/download"), token,
                                            stop);
}

void PreviewAPIClient::download(const std::string& from, const fs::path& to,
                                std::stop_token stop) const {
    PartialFile partial(to);
    // A refused download's body is never read: the first piece of it ends the transfer.
    const long status = session_.receive(
        HTTPRequest{HTTPMethod::get, from, {}, std::nullopt, std::nullopt, serviceOnLoopback_},
        [&partial](long pieceStatus, std::string_view piece) {
            if (!isSuccess(pieceStatus)) {
                return false;
            }
            partial.write(piece);
            return true;
        },
        stop);
    if (!isSuccess(status)) {
        throw QuayletError::serviceError(status, kDownloadFailed);
    }
    partial.moveTo(to);
}

std::string PreviewAPIClient::exchangeAuthenticationCode(const std::string& code,
                                                         std::stop_token stop) const {
    const auto body = encode(Json{{"code", code}});
    if (!body) {
        throw QuayletError::serviceError(0, kSignInFailed);
    }
    const HTTPResponse response = session_.send(HTTPRequest{HTTPMethod::post,
                                                            resolve("/api/v1/auth/mac/exchange"),
                                                            {kContentTypeJSON},
                                                            body,
                                                            kRecordTimeLimit,
                                                            serviceOnLoopback_},
                                                stop);
    if (isSuccess(response.status)) {
        try {
            return MacAuthResponse::decode(response.body).token;
        } catch (const DecodingError&) {
            // The service said yes but sent no usable token: still a failed sign-in.
        }
    }
    throw QuayletError::serviceError(response.status, kSignInFailed);
}

void PreviewAPIClient::revokeAuthentication(const std::string& token, std::stop_token stop) const {
    const HTTPResponse response = session_.send(HTTPRequest{HTTPMethod::post,
                                                            resolve("/api/v1/auth/logout"),
                                                            {authorization(token), kAcceptJSON},
                                                            std::nullopt,
                                                            kRecordTimeLimit,
                                                            serviceOnLoopback_},
                                                stop);
    if (!isSuccess(response.status)) {
        throw QuayletError::serviceError(response.status, kSignOutFailed);
    }
}

void PreviewAPIClient::recordLaunch(const std::string& id, const std::string& token,
                                    const std::string& stage, bool successful,
                                    std::optional<std::int64_t> durationMS,
                                    const std::optional<std::string>& errorCode,
                                    std::stop_token stop) const noexcept {
    Json event{{"stage", stage}, {"successful", successful}};
    if (durationMS) {
        event["durationMs"] = *durationMS;
    }
    if (errorCode) {
        event["errorCode"] = *errorCode;
    }
    try {
        session_.send(HTTPRequest{HTTPMethod::post,
                                  previewURL(id, "/launch-events"),
                                  {authorization(token), kAcceptJSON, kContentTypeJSON},
                                  encode(event),
                                  kRecordTimeLimit,
                                  serviceOnLoopback_},
                      stop);
    } catch (...) {
        // Reporting a launch is best effort: no answer, failure or stop may reach the launch.
    }
}

}  // namespace quaylet
