#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>

namespace quaylet::devservice {

// Identifiers become folder names and URL path segments, so only plain names made of
// letters, digits, "-", "_" and "." (but not "." or "..") are served.
bool isPlainPreviewID(const std::string& previewID);

struct PreviewServiceOptions {
    std::filesystem::path buildsFolder;
    // When false every request is served without a bearer token.
    bool requireSignIn = true;
    // A token accepted from the start, so a test need not sign in first.
    std::optional<std::string> fixedToken;
    // Archives are sent at most this fast, as over a slower link; 0: as fast as loopback goes.
    std::uint64_t artifactBytesPerSecond = 0;
};

// A loopback stand-in for the preview service, for the demo and the integration tests.
// Every build is a folder <buildsFolder>/<previewID>/ holding manifest.json and
// artifact.zip, or artifact.apk for an Android build; folders are read on each request, so builds
// may be added while it runs.
class PreviewService {
  public:
    explicit PreviewService(PreviewServiceOptions options);

    // Binds 127.0.0.1 (port 0: one the system chooses) and returns the port.
    int bind(int port);
    // Serves until stop() is called from another thread.
    void serve();
    void stop();

  private:
    struct DownloadGrant {
        std::string previewID;
        std::chrono::system_clock::time_point expiresAt;
    };

    // Test-only: how the service misbehaves for one kind of request until the faults are
    // cleared, or for the next `times` requests. `status` answers with that HTTP status and a
    // JSON error; `drop` sends the archive up to `at` (a fraction of it, one half unless
    // given) and closes the connection; `stall` holds the request unanswered; `expire` hands
    // out download addresses that have already expired.
    struct Fault {
        enum class Kind { status, drop, stall, expire };
        Kind kind = Kind::status;
        int status = 0;
        double at = 0.5;
        std::optional<int> times;
    };

    void addRoutes();
    bool authorize(const httplib::Request& request, httplib::Response& response);
    std::optional<std::filesystem::path> buildFolder(const std::string& previewID) const;

    void manifest(const httplib::Request& request, httplib::Response& response);
    void list(const httplib::Request& request, httplib::Response& response);
    void downloadURL(const httplib::Request& request, httplib::Response& response);
    void artifact(const httplib::Request& request, httplib::Response& response);
    void launchEvent(const httplib::Request& request, httplib::Response& response);
    void signInPage(const httplib::Request& request, httplib::Response& response);
    void exchangeCode(const httplib::Request& request, httplib::Response& response);
    void logout(const httplib::Request& request, httplib::Response& response);
    void launchEvents(const httplib::Request& request, httplib::Response& response);
    void armFault(const httplib::Request& request, httplib::Response& response);
    void clearFaults(const httplib::Request& request, httplib::Response& response);
    void artifactRanges(const httplib::Request& request, httplib::Response& response);
    void awaitStalledRequest(const httplib::Request& request, httplib::Response& response);

    // The fault armed for route, if any; a fault armed for a number of times uses one up.
    std::optional<Fault> armedFault(const std::string& route);
    // Answers the request as a status or stall fault does; false for a drop, which only the
    // archive route carries out.
    bool answerWithFault(const Fault& fault, httplib::Response& response);

    PreviewServiceOptions options_;
    httplib::Server server_;
    std::atomic<bool> serveEnded_ = false;
    int port_ = 0;

    std::mutex mutex_;  // guards everything below; the server answers on several threads
    std::set<std::string> apiTokens_;
    std::set<std::string> signInCodes_;
    std::map<std::string, DownloadGrant> downloadGrants_;
    nlohmann::json launchEvents_ = nlohmann::json::array();
    std::map<std::string, Fault>
        faults_;  // by route: "manifest", "download", "artifact", "list", "logout"
    // The Range header of every archive request since the faults were last cleared.
    nlohmann::json artifactRanges_ = nlohmann::json::array();
    int stalledRequests_ = 0;
    bool stopping_ = false;
    std::condition_variable faultsChanged_;  // faults cleared, a request held, or stopping
};

}  // namespace quaylet::devservice
