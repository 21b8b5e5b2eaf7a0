#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/service/HTTPSession.h"
#include "core/service/PreviewRecords.h"

namespace quaylet {

// What the manifest promises about a build's archive.
struct ArtifactPromise {
    std::int64_t size = 0;
    std::string sha256;
};

// Told of each piece of a download: bytes of the whole file on disk so far, and the whole
// file's expected size (the answer's length, else the promised size).
using DownloadObserver = std::function<void(std::int64_t received, std::int64_t expected)>;

// Speaks the preview service's HTTP protocol. Holds nothing but its base URL and session, so
// any number of threads may call it at once.
//
// Failures: an answer the service refuses becomes a QuayletError (401 on a record request is
// authenticationRequired; anything else serviceError with the status and a message); a body
// that does not decode is a DecodingError; a failed exchange is a TransportError; a stop is a
// CancellationError. An identifier that is not a preview identifier (isPreviewIdentifier)
// fails with QuayletError::invalidDeepLink before anything is sent.
class PreviewAPIClient {
  public:
    // Each call throws std::invalid_argument unless baseURL is an https URL, or an http URL of
    // a loopback host; making the client reads nothing, so that it loads no libcurl. A service
    // on a loopback host may hand out and redirect to plain http addresses of loopback hosts
    // too; any other service only https ones.
    PreviewAPIClient(std::string baseURL, const HTTPSession& session);

    // Starts the session (HTTPSession::start): on the main thread, before the first call.
    void startNetwork() const { session_.start(); }

    PreviewManifest preview(const std::string& id, const std::string& token,
                            std::stop_token stop) const;
    std::vector<PreviewSummary> listPreviews(const std::string& token, std::int64_t limit,
                                             std::stop_token stop) const;
    ArtifactURLResponse artifactURL(const std::string& id, const std::string& token,
                                    std::stop_token stop) const;

    // Brings `partial` up to the whole file at the absolute URL `from` and returns the SHA-256
    // of its bytes as they were written. When `partial` already holds bytes, asks for the rest
    // with a Range request and appends on a 206; a 200 starts over. The file never grows past
    // the promised size: a longer announced length is refused before anything is written, a
    // longer body as soon as it passes the size, both with checksumMismatch and the file
    // removed. A refused answer or a failed exchange is serviceError (status 0 for the latter)
    // with the download message, and leaves what was written for a later attempt.
    std::string download(const std::string& from, const std::filesystem::path& partial,
                         const ArtifactPromise& promise, const DownloadObserver& observer,
                         std::stop_token stop) const;

    // Returns the API token that the browser sign-in's code stands for.
    std::string exchangeAuthenticationCode(const std::string& code, std::stop_token stop) const;
    void revokeAuthentication(const std::string& token, std::stop_token stop) const;

    // Tells the service how a launch went. Best effort: never fails.
    void recordLaunch(const std::string& id, const std::string& token, const std::string& stage,
                      bool successful, std::optional<std::int64_t> durationMS,
                      const std::optional<std::string>& errorCode,
                      std::stop_token stop) const noexcept;

  private:
    std::string resolve(std::string_view path) const;
    bool serviceOnLoopback() const;
    std::string previewURL(const std::string& id, std::string_view suffix) const;
    template <typename Record>
    Record fetchRecord(HTTPMethod method, const std::string& url, const std::string& token,
                       std::stop_token stop) const;

    std::string baseURL_;
    const HTTPSession& session_;
};

}  // namespace quaylet
