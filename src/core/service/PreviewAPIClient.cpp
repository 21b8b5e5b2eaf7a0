#include "core/service/PreviewAPIClient.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "core/errors/CancellationError.h"
#include "core/errors/DecodingError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/TransportError.h"
#include "core/service/AbsoluteURL.h"
#include "core/service/PreviewIdentifier.h"
#include "core/support/JsonReader.h"
#include "core/support/SystemError.h"
#include "core/support/TrailingDigest.h"

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
// A download that delivers nothing for this long is given up and tried again.
constexpr std::chrono::seconds kDownloadStallLimit(30);
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
    return isLoopbackHost(urlPart(url, CURLUPART_HOST));
}

bool isSuccess(long status) {
    return status >= 200 && status <= 299;
}

std::string authorization(const std::string& token) {
    return "authorization: Bearer " + token;
}

// The service's own explanation: {"error": {"message": "..."}}, or the stock sentence.
std::string serviceMessage(const std::string& body) {
    try {
        return readJsonDocument(body, [](JsonValue document, const std::string& path) {
            return JsonObjectReader(document, path)
                .required("error", [](JsonValue error, const std::string& errorPath) {
                    return JsonObjectReader(error, errorPath).required("message", readString);
                });
        });
    } catch (const DecodingError&) {  // a body without the explanation has the stock sentence
        return kBuildNotLoaded;
    }
}

// Compact JSON text, or absent when a string in it is not valid UTF-8.
std::optional<std::string> encode(const Json& object) {
    try {
        return object.dump();
    } catch (const Json::type_error&) {
        return std::nullopt;
    }
}

// The part of a download already on disk, kept between attempts and launches so that a
// dropped connection costs only the bytes that had not arrived. The digest of the whole file
// is computed beside the writing.
class ResumableFile {
  public:
    explicit ResumableFile(fs::path path) : path_(std::move(path)) {
        descriptor_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (descriptor_ < 0) {
            throw systemError("Couldn’t create a file for the download", path_);
        }
    }
    ~ResumableFile() {
        // What arrived before a failure or a stop stays for the next attempt to resume from.
        try {
            writePending();
        } catch (const fs::filesystem_error&) {  // the partial file is gone; the next starts over
        }
        digest_.reset();  // its thread reads the descriptor
        ::close(descriptor_);
    }
    ResumableFile(const ResumableFile&) = delete;
    ResumableFile& operator=(const ResumableFile&) = delete;

    std::int64_t size() const {
        struct stat status {};
        if (::fstat(descriptor_, &status) != 0) {
            throw systemError("Couldn’t read the download", path_);
        }
        return status.st_size;
    }

    bool begun() const { return digest_.has_value(); }

    // Writes from here on go after the bytes already on disk when resuming, else over an
    // emptied file.
    void begin(bool resumes) {
        if (resumes ? ::lseek(descriptor_, 0, SEEK_END) < 0
                    : ::ftruncate(descriptor_, 0) != 0 || ::lseek(descriptor_, 0, SEEK_SET) != 0) {
            throw systemError("Couldn’t save the download", path_);
        }
        digest_.emplace(descriptor_, path_, resumes ? size() : 0);
    }

    // The digest of the whole file; an answer without a body leaves the file empty.
    std::string finish(std::stop_token stop) {
        if (!begun()) {
            begin(false);
        }
        writePending();
        return digest_->finish(std::move(stop));
    }

    // libcurl hands over at most 16 KiB at a time. The pieces reach the file, and the
    // digest's thread, in batches, which spares nearly all of the calls and thread switches.
    void write(std::string_view piece) {
        pending_.append(piece);
        if (pending_.size() >= kWriteBatchSize) {
            writePending();
        }
    }

    void remove() const {
        std::error_code ignored;  // the refusal that got us here matters more
        fs::remove(path_, ignored);
    }

  private:
    static constexpr std::size_t kWriteBatchSize = 512 * 1024;

    void writePending() {
        std::size_t done = 0;
        while (done < pending_.size()) {
            const ssize_t written =
                ::write(descriptor_, pending_.data() + done, pending_.size() - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written < 0) {
                // A disk that cannot take more keeps nothing of the download: resuming needs
                // the space first, and clearing the cache must not be the only way to get it.
                const int cause = errno;
                pending_.clear();
                remove();
                errno = cause;
                throw systemError("Couldn’t save the download", path_);
            }
            done += std::size_t(written);
            digest_->appended(written);
        }
        pending_.clear();
    }

    fs::path path_;
    int descriptor_ = -1;
    std::string pending_;  // arrived, not yet written
    std::optional<TrailingDigest> digest_;
};

}  // namespace

PreviewAPIClient::PreviewAPIClient(std::string baseURL, const HTTPSession& session)
    : baseURL_(std::move(baseURL)), session_(session) {}

std::string PreviewAPIClient::resolve(std::string_view path) const {
    // Every path starts with "/", so it replaces the base URL's path and query.
    parseBaseURL(baseURL_);
    std::optional<std::string> resolved = resolveURL(baseURL_, std::string(path));
    if (!resolved) {
        throw std::invalid_argument("Cannot resolve \"" + std::string(path) + "\" against " +
                                    baseURL_);
    }
    return std::move(*resolved);
}

bool PreviewAPIClient::serviceOnLoopback() const {
    return isOnLoopback(parseBaseURL(baseURL_));
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
    const HTTPResponse response =
        session_.send(HTTPRequest{.method = method,
                                  .url = url,
                                  .headers = {authorization(token), kAcceptJSON},
                                  .timeLimit = kRecordTimeLimit,
                                  .plainHTTPToLoopback = serviceOnLoopback()},
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

std::string PreviewAPIClient::download(const std::string& from, const fs::path& partial,
                                       const ArtifactPromise& promise,
                                       const DownloadObserver& observer,
                                       std::stop_token stop) const {
    ResumableFile file(partial);
    const auto refuse = [&]() -> void {
        file.remove();
        // The bytes past the promised size are never read, so there is no digest to report.
        throw QuayletError::checksumMismatch(promise.sha256, "");
    };
    const std::int64_t offset = file.size();
    if (offset > promise.size) {
        refuse();
    }
    if (offset > 0 && offset == promise.size) {
        // Every promised byte arrived before an earlier attempt was stopped: there is nothing
        // left to ask for, and a request for the rest would find no bytes past the end.
        file.begin(true);
        if (observer) {
            observer(offset, offset);
        }
        return file.finish(stop);
    }
    std::vector<std::string> headers;
    if (offset > 0) {
        headers.push_back("range: bytes=" + std::to_string(offset) + "-");
    }

    std::int64_t received = 0;
    std::int64_t expected = promise.size;
    long status = 0;
    try {
        // A refused download's body is never read: the first piece of it ends the transfer.
        status = session_.receive(
            HTTPRequest{.url = from,
                        .headers = headers,
                        .plainHTTPToLoopback = serviceOnLoopback(),
                        .stallLimit = kDownloadStallLimit},
            [&](const HTTPResponseHead& head, std::string_view piece) {
                if (!isSuccess(head.status)) {
                    return false;
                }
                if (!file.begun()) {
                    const bool resumes = head.status == 206;
                    if (resumes && head.rangeStart != offset) {
                        file.remove();
                        throw QuayletError::serviceError(head.status, kDownloadFailed);
                    }
                    file.begin(resumes);
                    received = resumes ? offset : 0;
                    // Refused before a byte is written when the answer announces too much.
                    if (head.contentLength) {
                        expected = received + *head.contentLength;
                    }
                    if (expected > promise.size) {
                        refuse();
                    }
                }
                received += std::int64_t(piece.size());
                if (received > promise.size) {
                    refuse();
                }
                file.write(piece);
                if (observer) {
                    observer(received, expected);
                }
                return true;
            },
            stop);
    } catch (const TransportError& error) {
        // An address Quaylet refuses stays refused however often it is asked for.
        if (error.refusedAddress()) {
            throw;
        }
        throw QuayletError::serviceError(0, kDownloadFailed);
    }
    if (!isSuccess(status)) {
        throw QuayletError::serviceError(status, kDownloadFailed);
    }
    return file.finish(stop);
}

std::string PreviewAPIClient::exchangeAuthenticationCode(const std::string& code,
                                                         std::stop_token stop) const {
    const auto body = encode(Json{{"code", code}});
    if (!body) {
        throw QuayletError::serviceError(0, kSignInFailed);
    }
    const HTTPResponse response =
        session_.send(HTTPRequest{.method = HTTPMethod::post,
                                  .url = resolve("/api/v1/auth/mac/exchange"),
                                  .headers = {kContentTypeJSON},
                                  .body = body,
                                  .timeLimit = kRecordTimeLimit,
                                  .plainHTTPToLoopback = serviceOnLoopback()},
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
    const HTTPResponse response =
        session_.send(HTTPRequest{.method = HTTPMethod::post,
                                  .url = resolve("/api/v1/auth/logout"),
                                  .headers = {authorization(token), kAcceptJSON},
                                  .timeLimit = kRecordTimeLimit,
                                  .plainHTTPToLoopback = serviceOnLoopback()},
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
        session_.send(HTTPRequest{.method = HTTPMethod::post,
                                  .url = previewURL(id, "/launch-events"),
                                  .headers = {authorization(token), kAcceptJSON, kContentTypeJSON},
                                  .body = encode(event),
                                  .timeLimit = kRecordTimeLimit,
                                  .plainHTTPToLoopback = serviceOnLoopback()},
                      stop);
    } catch (...) {
        // Reporting a launch is best effort: no answer, failure or stop may reach the launch.
    }
}

}  // namespace quaylet
