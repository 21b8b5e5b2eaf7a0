#include "core/service/HTTPSession.h"

#include <array>
#include <charconv>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "core/errors/CancellationError.h"
#include "core/errors/TransportError.h"
#include "core/service/AbsoluteURL.h"
#include "core/support/Text.h"

namespace quaylet {
namespace {

constexpr std::size_t kLargestAnswerInMemory = 32 * 1024 * 1024;
constexpr long kMaximumRedirects = 16;
// A connection that cannot be made, or that delivers nothing, for this long is given up.
constexpr long kStallSeconds = 60;
// The largest piece libcurl hands over at once (its own ceiling since 7.53).
constexpr long kReceiveBufferSize = 512L * 1024;

void initializeLibcurlOnce() {
    static const CURLcode result = libcurl().globalInit(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) {
        throw std::runtime_error(std::string("libcurl could not start: ") +
                                 libcurl().easyStrerror(result));
    }
}

template <typename Value>
void setOption(CURL* easy, CURLoption option, Value value) {
    if (libcurl().easySetopt(easy, option, value) != CURLE_OK) {
        throw std::logic_error("libcurl refused option " + std::to_string(option));
    }
}

// The host a URL names, for messages; the URL itself when it has none.
std::string hostOf(const char* url) {
    const CurlURL parsed = parseURL(url, CURLU_NON_SUPPORT_SCHEME);
    std::string host = parsed ? urlPart(parsed, CURLUPART_HOST) : std::string();
    return host.empty() ? url : host;
}

std::string describeFailure(CURLcode code, const std::string& host) {
    const std::string server = "the server at " + host;
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return "Couldn’t find " + server + ". Check your connection, then try again.";
        case CURLE_COULDNT_CONNECT:
            return "Couldn’t connect to " + server + ". Check your connection, then try again.";
        case CURLE_OPERATION_TIMEDOUT:
            return "The server at " + host +
                   " took too long to answer. Check your connection, then try again.";
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_CRL_BADFILE:
            return "The identity of " + server +
                   " couldn’t be verified, so Quaylet didn’t connect. Check your network, then "
                   "try again.";
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
            return "Couldn’t make a secure connection to " + server +
                   ". Check your connection, then try again.";
        case CURLE_TOO_MANY_REDIRECTS:
            return "The server at " + host + " redirected too many times. Try again later.";
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return "The server at " + host +
                   " gave an address Quaylet can’t open. Try again later.";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
            return "The connection to " + server +
                   " was lost. Check your connection, then try again.";
        default:
            return "Couldn’t reach " + server + ". Check your connection, then try again.";
    }
}

std::string insecureAddress(const std::string& host) {
    return "The server at " + host +
           " gave an address that isn’t secure, so Quaylet didn’t connect. Try again later.";
}

struct Transfer {
    CURL* easy;
    const HTTPSession::BodyReceiver& receiver;
    std::stop_token stop;
    bool plainHTTPToLoopback;
    std::exception_ptr receiverError;
    bool receiverDeclined = false;
    std::optional<HTTPResponseHead> head;  // read once, with the body's first piece
};

// Judges each redirect before libcurl follows it: the Location of a 3xx answer, resolved
// against the address that gave it, must pass the same rule as the first address.
std::size_t checkRedirect(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    constexpr std::string_view kLocation = "location:";
    const std::string_view line(data, length);
    long status = 0;
    libcurl().easyGetinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 300 || status > 399 || line.size() < kLocation.size() ||
        !libcurl().strnequal(line.data(), kLocation.data(), kLocation.size())) {
        return length;
    }
    const char* current = nullptr;
    libcurl().easyGetinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &current);
    const std::string location(trimmed(line.substr(kLocation.size())));
    const std::optional<std::string> target =
        current != nullptr ? resolveURL(current, location) : std::nullopt;
    if (!target || !isPermittedURL(*target, transfer.plainHTTPToLoopback)) {
        transfer.receiverError = std::make_exception_ptr(
            TransportError(insecureAddress(hostOf(current != nullptr ? current : "")),
                           TransportError::Kind::refusedAddress));
        return 0;
    }
    return length;
}

// Content-Range of a 206: "bytes <first>-<last>/<total or *>".
std::optional<std::int64_t> rangeStartOf(CURL* easy) {
    curl_header* header = nullptr;
    if (libcurl().easyHeader(easy, "Content-Range", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return std::nullopt;
    }
    const std::string_view value(header->value);
    constexpr std::string_view kUnit = "bytes ";
    if (!value.starts_with(kUnit)) {
        return std::nullopt;
    }
    std::int64_t first = 0;
    const char* begin = value.data() + kUnit.size();
    const auto [end, error] = std::from_chars(begin, value.data() + value.size(), first);
    if (error != std::errc() || end == begin || *end != '-') {
        return std::nullopt;
    }
    return first;
}

HTTPResponseHead headOf(CURL* easy) {
    HTTPResponseHead head;
    libcurl().easyGetinfo(easy, CURLINFO_RESPONSE_CODE, &head.status);
    curl_off_t length = -1;
    if (libcurl().easyGetinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length >= 0) {
        head.contentLength = length;
    }
    head.rangeStart = rangeStartOf(easy);
    return head;
}

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    // Exceptions must not cross libcurl's C frames: keep it, stop the transfer, rethrow after.
    try {
        if (!transfer.head) {
            transfer.head = headOf(transfer.easy);
        }
        if (!transfer.receiver(*transfer.head, std::string_view(data, length))) {
            transfer.receiverDeclined = true;
            return 0;
        }
    } catch (...) {
        transfer.receiverError = std::current_exception();
        return 0;
    }
    return length;
}

// libcurl calls this often, idle or not, which is what lets a stop end a stalled transfer.
int abortWhenStopped(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(context)->stop.stop_requested() ? 1 : 0;
}

bool hasHeader(const std::vector<std::string>& headers, std::string_view name) {
    for (const std::string& header : headers) {
        if (header.size() > name.size() && header[name.size()] == ':' &&
            libcurl().strnequal(header.c_str(), name.data(), name.size())) {
            return true;
        }
    }
    return false;
}

}  // namespace

// Connections stay per transfer: libcurl documents its shared connection cache as unsafe
// between concurrent threads. DNS answers and TLS sessions are shared, with a lock per kind.
struct HTTPSession::Share {
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
    CURLSH* handle = nullptr;

    Share() {
        initializeLibcurlOnce();
        handle = libcurl().shareInit();
        if (handle == nullptr) {
            throw std::bad_alloc();
        }
        libcurl().shareSetopt(handle, CURLSHOPT_LOCKFUNC, &Share::lock);
        libcurl().shareSetopt(handle, CURLSHOPT_UNLOCKFUNC, &Share::unlock);
        libcurl().shareSetopt(handle, CURLSHOPT_USERDATA, this);
        libcurl().shareSetopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        libcurl().shareSetopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~Share() { libcurl().shareCleanup(handle); }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* share) {
        static_cast<Share*>(share)->locks[data].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* share) {
        static_cast<Share*>(share)->locks[data].unlock();
    }
};

HTTPSession::HTTPSession(Options options) : options_(std::move(options)) {}

HTTPSession::~HTTPSession() = default;

HTTPSession& HTTPSession::shared() {
    static HTTPSession session(Options{});
    return session;
}

void HTTPSession::start() const {
    std::call_once(started_, [this] {
        try {
            share_ = std::make_unique<Share>();
        } catch (...) {
            startFailure_ = std::current_exception();
        }
    });
}

HTTPResponse HTTPSession::send(const HTTPRequest& request, std::stop_token stop) const {
    HTTPResponse response;
    response.status = receive(
        request,
        [&response, &request](const HTTPResponseHead&, std::string_view piece) {
            if (response.body.size() + piece.size() > kLargestAnswerInMemory) {
                throw TransportError("The server at " + hostOf(request.url.c_str()) +
                                     " sent an answer too large to read. Try again later.");
            }
            response.body.append(piece);
            return true;
        },
        stop);
    return response;
}

long HTTPSession::receive(const HTTPRequest& request, const BodyReceiver& receiver,
                          std::stop_token stop) const {
    if (startFailure_) {
        std::rethrow_exception(startFailure_);
    }
    if (!share_) {
        throw std::logic_error("a transfer on an HTTP session that was not started");
    }
    throwIfStopRequested(stop);
    if (!isPermittedURL(request.url, request.plainHTTPToLoopback)) {
        throw TransportError(insecureAddress(hostOf(request.url.c_str())),
                             TransportError::Kind::refusedAddress);
    }
    const std::unique_ptr<CURL, decltype(libcurl().easyCleanup)> easy(libcurl().easyInit(),
                                                                      libcurl().easyCleanup);
    if (!easy) {
        throw std::bad_alloc();
    }
    // Only the caller's headers go out: libcurl's default Accept, form Content-Type and
    // Expect are suppressed by naming them with no value.
    std::vector<std::string> headers = request.headers;
    if (!hasHeader(headers, "accept")) {
        headers.emplace_back("Accept:");
    }
    if (request.method == HTTPMethod::post && !hasHeader(headers, "content-type")) {
        headers.emplace_back("Content-Type:");
    }
    headers.emplace_back("Expect:");
    std::unique_ptr<curl_slist, decltype(libcurl().slistFreeAll)> headerList(
        nullptr, libcurl().slistFreeAll);
    for (const std::string& header : headers) {
        curl_slist* extended = libcurl().slistAppend(headerList.get(), header.c_str());
        if (extended == nullptr) {
            throw std::bad_alloc();
        }
        static_cast<void>(headerList.release());
        headerList.reset(extended);
    }

    Transfer transfer{easy.get(), receiver, stop,        request.plainHTTPToLoopback,
                      nullptr,    false,    std::nullopt};
    CURL* handle = easy.get();
    setOption(handle, CURLOPT_URL, request.url.c_str());
    setOption(handle, CURLOPT_SHARE, share_->handle);
    setOption(handle, CURLOPT_NOSIGNAL, 1L);
    const char* protocols = request.plainHTTPToLoopback ? "http,https" : "https";
    setOption(handle, CURLOPT_PROTOCOLS_STR, protocols);
    setOption(handle, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    setOption(handle, CURLOPT_HEADERFUNCTION, &checkRedirect);
    setOption(handle, CURLOPT_HEADERDATA, &transfer);
    setOption(handle, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(handle, CURLOPT_MAXREDIRS, kMaximumRedirects);
    setOption(handle, CURLOPT_ACCEPT_ENCODING, "");
    setOption(handle, CURLOPT_USERAGENT, "Quaylet");
    // Socket reads of up to 512 KiB instead of 16 KiB: a gigabyte build arrives in a thirtieth
    // of the calls. The receiver is still handed at most 16 KiB (CURL_MAX_WRITE_SIZE) at a time.
    setOption(handle, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    setOption(handle, CURLOPT_CONNECTTIMEOUT, kStallSeconds);
    setOption(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    setOption(handle, CURLOPT_LOW_SPEED_TIME,
              request.stallLimit ? long(request.stallLimit->count()) : kStallSeconds);
    if (request.timeLimit) {
        setOption(handle, CURLOPT_TIMEOUT, long(request.timeLimit->count()));
    }
    if (options_.certificateAuthorityFile) {
        setOption(handle, CURLOPT_CAINFO, options_.certificateAuthorityFile->c_str());
        setOption(handle, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    setOption(handle, CURLOPT_HTTPHEADER, headerList.get());
    if (request.method == HTTPMethod::post) {
        // An empty body is still given as "", never null, or libcurl would read standard input.
        const char* body = request.body ? request.body->c_str() : "";
        const std::size_t length = request.body ? request.body->size() : 0;
        setOption(handle, CURLOPT_POST, 1L);
        setOption(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(length));
        setOption(handle, CURLOPT_POSTFIELDS, body);
    } else {
        setOption(handle, CURLOPT_HTTPGET, 1L);
    }
    setOption(handle, CURLOPT_WRITEFUNCTION, &writeBody);
    setOption(handle, CURLOPT_WRITEDATA, &transfer);
    setOption(handle, CURLOPT_NOPROGRESS, 0L);
    setOption(handle, CURLOPT_XFERINFOFUNCTION, &abortWhenStopped);
    setOption(handle, CURLOPT_XFERINFODATA, &transfer);

    const CURLcode result = libcurl().easyPerform(handle);
    if (transfer.receiverError) {
        std::rethrow_exception(transfer.receiverError);
    }
    if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && transfer.receiverDeclined)) {
        long status = 0;
        libcurl().easyGetinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }
    if (result == CURLE_ABORTED_BY_CALLBACK || stop.stop_requested()) {
        throw CancellationError();
    }
    const char* lastURL = nullptr;
    libcurl().easyGetinfo(handle, CURLINFO_EFFECTIVE_URL, &lastURL);
    throw TransportError(describeFailure(result, hostOf(lastURL ? lastURL : request.url.c_str())));
}

}  // namespace quaylet
