#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/service/HTTPSession.h"
#include "core/service/PreviewRecords.h"

namespace quaylet {

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
    // Throws std::invalid_argument unless baseURL is an https URL, or an http URL of a loopback
    // host. A service on a loopback host may hand out and redirect to plain http addresses of
    // loopback hosts too; any other service only https ones.
    PreviewAPIClient(std::string baseURL, const HTTPSession& session);

    PreviewManifest preview(const std::string& id, const std::string& token,
                            std::stop_token stop) const;
    std::vector<PreviewSummary> listPreviews(const std::string& token, std::int64_t limit,
                                             std::stop_token stop) const;
    ArtifactURLResponse artifactURL(const std::string& id, const std::string& token,
                                    std::stop_token stop) const;

    // Streams the absolute URL `from` into a temporary file beside `to` and moves it into place
    // after a 2xx answer. On any failure nothing is left behind and `to` is untouched; an
    // address the service may not use is a TransportError before anything is sent.
    void download(const std::string& from, const std::filesystem::path& to,
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
    std::string previewURL(const std::string& id, std::string_view suffix) const;
    template <typename Record>
    Record fetchRecord(HTTPMethod method, const std::string& url, const std::string& token,
                       std::stop_token stop) const;

    std::string baseURL_;
    const HTTPSession& session_;
    bool serviceOnLoopback_;
};

}  // namespace quaylet
