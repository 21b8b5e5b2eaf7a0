#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace quaylet {

enum class HTTPMethod { get, post };

struct HTTPRequest {
    HTTPMethod method = HTTPMethod::get;
    std::string url = {};
    std::vector<std::string> headers = {};  // "name: value"; nothing else is added
    std::optional<std::string> body = std::nullopt;
    std::optional<std::chrono::seconds> timeLimit = std::nullopt;
    // Plain http to a loopback host, for this request and its redirects; otherwise https only.
    bool plainHTTPToLoopback = false;
    // Gives up on a connection that delivers no byte for this long (60 s when absent).
    std::optional<std::chrono::seconds> stallLimit = std::nullopt;
};

// What the answer's header says about the body that follows.
struct HTTPResponseHead {
    long status = 0;
    std::optional<std::int64_t> contentLength;
    // The first byte's offset in the whole file, from Content-Range ("bytes 100-199/200").
    std::optional<std::int64_t> rangeStart;
};

struct HTTPResponse {
    long status = 0;
    std::string body;
};

// Sends HTTP requests with TLS certificates verified and redirects followed, over https only
// unless a request allows plain http to this computer (isPermittedURL); a URL or redirect that
// the rule refuses is a TransportError, and nothing is sent to it. One session serves the whole
// process and any number of threads at once; the transfers share their DNS cache and TLS sessions.
// Making a session costs nothing: libcurl, and the TLS library it brings up, start only with
// start(), so that a program that never transfers anything never pays for them.
class HTTPSession {
  public:
    struct Options {
        // Trust only the certificate authorities in this PEM file instead of the system's.
        std::optional<std::filesystem::path> certificateAuthorityFile;
    };

    // Receives the body in pieces as it arrives, with the answer's head. Returning false
    // stops the transfer: the caller has seen enough and the answer stands as it is. An
    // exception thrown here ends the transfer and reaches the caller of receive().
    using BodyReceiver = std::function<bool(const HTTPResponseHead& head, std::string_view piece)>;

    explicit HTTPSession(Options options);
    ~HTTPSession();
    HTTPSession(const HTTPSession&) = delete;
    HTTPSession& operator=(const HTTPSession&) = delete;

    // The process-wide session, trusting the system's certificate authorities.
    static HTTPSession& shared();

    // Starts libcurl (once per process) and this session's shared caches; later calls do
    // nothing. Call it on the main thread before any transfer: OpenSSL, which libcurl starts,
    // keeps per-thread state that a worker thread starting it would leave behind at exit.
    // Throws nothing: when libcurl cannot start, each transfer throws why. A transfer on a
    // session never started is a std::logic_error.
    void start() const;

    // The whole answer, its body held in memory (answers larger than 32 MiB are refused).
    HTTPResponse send(const HTTPRequest& request, std::stop_token stop) const;

    // Streams the answer's body to `receiver` and returns its status.
    long receive(const HTTPRequest& request, const BodyReceiver& receiver,
                 std::stop_token stop) const;

  private:
    struct Share;
    Options options_;
    mutable std::once_flag started_;
    // Both written once, by start(), before any transfer reads them.
    mutable std::unique_ptr<Share> share_;
    mutable std::exception_ptr startFailure_;
};

}  // namespace quaylet
