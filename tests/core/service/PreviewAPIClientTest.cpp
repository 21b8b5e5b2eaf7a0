#include "core/service/PreviewAPIClient.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/errors/CancellationError.h"
#include "core/errors/DecodingError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/TransportError.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

struct ReceivedRequest {
    std::string method;
    std::string path;
    std::string query;
    httplib::Headers headers;
    std::string body;

    std::string header(const char* name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? "<none>" : found->second;
    }
};

// Answers every request under /api/ and /files/ with the scripted status and body and keeps
// what it received. /redirect/<name> sends the client to /files/<name>; a path ending in
// /slow sends one piece of body and then holds the transfer open until released.
class LoopbackServer {
  public:
    static LoopbackServer& shared() {
        static LoopbackServer server;
        return server;
    }

    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

    void script(int status, std::string body, std::string contentType = "application/json") {
        const std::lock_guard lock(mutex_);
        answer_ = {status, std::move(body), std::move(contentType)};
        received_.clear();
    }

    std::vector<ReceivedRequest> received() {
        const std::lock_guard lock(mutex_);
        return received_;
    }

    // False when no slow transfer started within a generous bound.
    bool waitUntilSlowTransferStarts() {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(30),
                               [this] { return slowTransfersStarted_ > 0; })) {
            return false;
        }
        --slowTransfersStarted_;
        return true;
    }

    void releaseSlowTransfers() {
        const std::lock_guard lock(mutex_);
        ++releases_;
        changed_.notify_all();
    }

  private:
    struct Answer {
        int status = 200;
        std::string body;
        std::string contentType;
    };

    LoopbackServer() {
        // Answers as a server without Range support does: always the whole body.
        server_.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
            const_cast<httplib::Request&>(request).ranges.clear();
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server_.Get(R"(.*/slow)", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "application/octet-stream", [this](std::size_t, httplib::DataSink& sink) {
                    std::unique_lock lock(mutex_);
                    const int release = releases_;
                    sink.write("first piece", 11);
                    ++slowTransfersStarted_;
                    changed_.notify_all();
                    changed_.wait(lock, [&] { return releases_ != release; });
                    return false;
                });
        });
        server_.Get(R"(/redirect/(.*))",
                    [](const httplib::Request& request, httplib::Response& response) {
                        response.set_redirect("/files/" + request.matches[1].str());
                    });
        const auto respond = [this](const httplib::Request& request, httplib::Response& response) {
            const std::lock_guard lock(mutex_);
            const auto query = request.target.find('?');
            received_.push_back({request.method, request.path,
                                 query == std::string::npos ? "" : request.target.substr(query + 1),
                                 request.headers, request.body});
            response.status = answer_.status;
            response.set_content(answer_.body, answer_.contentType.c_str());
        };
        server_.Get(R"(/(api|files)/.*)", respond);
        server_.Post(R"(/(api|files)/.*)", respond);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // A stop that arrives before the server runs is lost and the join would hang.
        while (!server_.is_running()) {
            std::this_thread::yield();
        }
    }

    ~LoopbackServer() {
        releaseSlowTransfers();
        server_.stop();
        thread_.join();
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    Answer answer_;
    std::vector<ReceivedRequest> received_;
    int slowTransfersStarted_ = 0;
    int releases_ = 0;
};

std::string manifestBody() {
    return Json{
        {"schemaVersion", 1},
        {"previewId", "pv_1"},
        {"repository", "acme/app"},
        {"pullRequest", 42},
        {"commitSha", "abc"},
        {"branch", "main"},
        {"scheme", "App"},
        {"configuration", "Debug"},
        {"status", "ready"},
        {"bundleId", "com.acme.app"},
        {"displayName", "Acme"},
        {"minimumOSVersion", "17.0"},
        {"platform", "iphonesimulator"},
        {"architectures", {"arm64"}},
        {"xcodeVersion", "15.3"},
        {"artifactSize", 10},
        {"sha256", std::string(64, '0')},
        {"createdAt", "2024-05-01T12:30:45Z"},
    }
        .dump();
}

template <typename Operation>
QuayletError quayletFailure(Operation operation) {
    try {
        operation();
    } catch (const QuayletError& error) {
        return error;
    }
    ADD_FAILURE() << "no QuayletError";
    return QuayletError::invalidDeepLink();
}

class PreviewAPIClientTest : public ::testing::Test {
  protected:
    LoopbackServer& server = LoopbackServer::shared();
    HTTPSession session{HTTPSession::Options{}};
    // The base URL's own path and query must give way to every request path.
    PreviewAPIClient client{server.baseURL() + "/ignored/base?stale=1", session};
};

TEST_F(PreviewAPIClientTest, RecordRequestsCarryTheTokenAndReplaceTheBasePath) {
    struct Case {
        const char* name;
        std::string body;
        std::function<void()> call;
        const char* method;
        const char* path;
        const char* query;
    };
    const Case cases[] = {
        {"preview", manifestBody(), [&] { client.preview("pv_1", "tok", {}); }, "GET",
         "/api/v1/previews/pv_1", ""},
        {"list", R"({"previews": []})", [&] { client.listPreviews("tok", 60, {}); }, "GET",
         "/api/v1/previews", "limit=60"},
        {"download URL",
         R"({"url": "https://cdn.example/a.zip", "expiresAt": "2024-05-01T12:30:45Z", "direct": true})",
         [&] { client.artifactURL("pv_1", "tok", {}); }, "POST", "/api/v1/previews/pv_1/download",
         ""},
        {"sign-out", "", [&] { client.revokeAuthentication("tok", {}); }, "POST",
         "/api/v1/auth/logout", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.script(200, c.body);
        c.call();
        const auto received = server.received();
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].method, c.method);
        EXPECT_EQ(received[0].path, c.path);
        EXPECT_EQ(received[0].query, c.query);
        EXPECT_EQ(received[0].header("Authorization"), "Bearer tok");
        EXPECT_EQ(received[0].header("Accept"), "application/json");
        EXPECT_EQ(received[0].header("Content-Type"), "<none>");
        EXPECT_EQ(received[0].body, "");
    }
}

TEST_F(PreviewAPIClientTest, RecordRequestAnswersBecomeRecordsOrServiceErrors) {
    const std::string fallback =
        "This build couldn’t be loaded. Check your connection, then try again.";
    struct Case {
        const char* name;
        int status;
        std::string body;
        QuayletError expected;
    };
    const Case cases[] = {
        {"service message", 404, R"({"error": {"message": "Preview not found."}})",
         QuayletError::serviceError(404, "Preview not found.")},
        {"HTML body", 404, "<html>Not Found</html>", QuayletError::serviceError(404, fallback)},
        {"401 ignores the message", 401, R"({"error": {"message": "Token expired."}})",
         QuayletError::authenticationRequired()},
        {"error as text", 500, R"({"error": "boom"})", QuayletError::serviceError(500, fallback)},
        {"top-level message", 500, R"({"message": "boom"})",
         QuayletError::serviceError(500, fallback)},
        {"message not text", 502, R"({"error": {"message": 7}})",
         QuayletError::serviceError(502, fallback)},
        {"empty body", 503, "", QuayletError::serviceError(503, fallback)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.script(c.status, c.body);
        EXPECT_EQ(quayletFailure([&] { client.preview("pv_1", "tok", {}); }), c.expected);
    }

    server.script(200, manifestBody());
    EXPECT_EQ(client.preview("pv_1", "tok", {}).bundleId, "com.acme.app");

    Json incomplete = Json::parse(manifestBody());
    incomplete.erase("bundleId");
    server.script(200, incomplete.dump());
    try {
        client.preview("pv_1", "tok", {});
        ADD_FAILURE() << "decoded a manifest without bundleId";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.keyPath(), "bundleId");
    }
}

TEST_F(PreviewAPIClientTest, ListReturnsThePreviewsInOrder) {
    const Json summary{{"previewId", "a"},
                       {"repository", "r"},
                       {"pullRequest", 1},
                       {"branch", "b"},
                       {"commitSha", "c"},
                       {"displayName", "d"},
                       {"minimumOSVersion", "17.0"},
                       {"status", "ready"},
                       {"createdAt", "2024-05-01T12:30:45Z"}};
    Json second = summary;
    second["previewId"] = "b";
    server.script(200, Json{{"previews", {summary, second}}}.dump());
    const auto previews = client.listPreviews("tok", 7, {});
    ASSERT_EQ(previews.size(), 2u);
    EXPECT_EQ(previews[0].id(), "a");
    EXPECT_EQ(previews[1].id(), "b");
    EXPECT_EQ(server.received().at(0).query, "limit=7");
}

TEST_F(PreviewAPIClientTest, IdentifiersThatAreNotOnePathSegmentAreRefusedBeforeSending) {
    server.script(200, manifestBody());
    for (const char* id : {"a b", "", "..", "a/b", "a?b", "a#b", "a%2", "ä", "a\"b"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(quayletFailure([&] { client.preview(id, "tok", {}); }),
                  QuayletError::invalidDeepLink());
        EXPECT_EQ(quayletFailure([&] { client.artifactURL(id, "tok", {}); }),
                  QuayletError::invalidDeepLink());
        client.recordLaunch(id, "tok", "running", true, std::nullopt, std::nullopt, {});
    }
    EXPECT_TRUE(server.received().empty());
    client.preview("pv%201-._~!$&'()*+,;=:@", "tok", {});
    EXPECT_EQ(server.received().at(0).path, "/api/v1/previews/pv 1-._~!$&'()*+,;=:@");
}

TEST_F(PreviewAPIClientTest, ExchangeSendsOnlyTheCodeAndReturnsTheToken) {
    server.script(200, R"({"token": "api-token", "expiresIn": 3600})");
    EXPECT_EQ(client.exchangeAuthenticationCode("the-code", {}), "api-token");
    const auto received = server.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_EQ(received[0].path, "/api/v1/auth/mac/exchange");
    EXPECT_EQ(Json::parse(received[0].body), (Json{{"code", "the-code"}}));
    EXPECT_EQ(received[0].header("Content-Type"), "application/json");
    EXPECT_EQ(received[0].header("Authorization"), "<none>");
    EXPECT_EQ(received[0].header("Accept"), "<none>");

    const std::string signInFailed = "GitHub sign-in could not be completed.";
    server.script(401, R"({"error": {"message": "bad code"}})");
    EXPECT_EQ(quayletFailure([&] { client.exchangeAuthenticationCode("c", {}); }),
              QuayletError::serviceError(401, signInFailed));
    server.script(200, R"({"token": "api-token"})");
    EXPECT_EQ(quayletFailure([&] { client.exchangeAuthenticationCode("c", {}); }),
              QuayletError::serviceError(200, signInFailed));
}

TEST_F(PreviewAPIClientTest, SignOutFailsOnAnyRefusal) {
    server.script(401, "");
    EXPECT_EQ(quayletFailure([&] { client.revokeAuthentication("tok", {}); }),
              QuayletError::serviceError(
                  401, "GitHub sign-out failed. Check your connection, then try again."));
}

TEST_F(PreviewAPIClientTest, LaunchEventsLeaveOutWhatIsNotGivenAndNeverFail) {
    server.script(500, "not json");
    client.recordLaunch("pv_1", "tok", "running", true, std::nullopt, std::nullopt, {});
    client.recordLaunch("pv_1", "tok", "installing", false, 1234, "E_INSTALL", {});
    const auto received = server.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].path, "/api/v1/previews/pv_1/launch-events");
    EXPECT_EQ(received[0].header("Content-Type"), "application/json");
    EXPECT_EQ(received[0].header("Accept"), "application/json");
    EXPECT_EQ(received[0].header("Authorization"), "Bearer tok");
    EXPECT_EQ(received[0].body, R"({"stage":"running","successful":true})");
    EXPECT_EQ(Json::parse(received[1].body), (Json{{"stage", "installing"},
                                                   {"successful", false},
                                                   {"durationMs", 1234},
                                                   {"errorCode", "E_INSTALL"}}));
}

// A port that refuses connections: bound, so nobody else takes it, but never listening.
class RefusingPort {
  public:
    RefusingPort() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() { ::close(socket_); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    int socket_;
    int port_ = 0;
};

TEST_F(PreviewAPIClientTest, TransportFailuresNameTheServer) {
    const RefusingPort refusing;
    const PreviewAPIClient unreachable(refusing.url(), session);
    try {
        unreachable.preview("pv_1", "tok", {});
        ADD_FAILURE() << "reached a closed port";
    } catch (const TransportError& error) {
        EXPECT_STREQ(error.what(),
                     "Couldn’t connect to the server at 127.0.0.1. Check your connection, then "
                     "try again.");
    }
    unreachable.recordLaunch("pv_1", "tok", "running", true, 1, std::nullopt, {});
    EXPECT_THROW(PreviewAPIClient("not a url", session), std::invalid_argument);
}

std::string contentsOf(const fs::path& file) {
    std::ifstream input(file);
    return std::string(std::istreambuf_iterator<char>(input), {});
}

TEST_F(PreviewAPIClientTest, DownloadAppendsToThePartialFileWithinThePromisedSize) {
    const std::string body = "new archive bytes";
    const std::string kDownloadFailed =
        "The build couldn’t be downloaded. Check your connection, then try again.";
    struct Case {
        const char* name;
        std::optional<std::string> partialBefore;
        int status;
        const char* path;
        std::int64_t promisedSize;
        std::optional<QuayletError> error;  // otherwise the digest of body
        std::optional<std::string> partialAfter;
    };
    const QuayletError tooLong = QuayletError::checksumMismatch(std::string(64, 'f'), "");
    const Case cases[] = {
        {"fresh, through a redirect", std::nullopt, 200, "/redirect/a.zip", 17, std::nullopt, body},
        {"a 200 to a resume starts over", "stale", 200, "/files/a.zip", 17, std::nullopt, body},
        {"refused, what was there stays", "kept", 403, "/files/a.zip", 17,
         QuayletError::serviceError(403, kDownloadFailed), "kept"},
        {"announced length above the promise", std::nullopt, 200, "/files/a.zip", 16, tooLong,
         std::nullopt},
        {"body passes the promise mid-transfer", std::nullopt, 200, "/files/slow", 5, tooLong,
         std::nullopt},
        {"leftover above the promise", "0123456789", 200, "/files/a.zip", 5, tooLong, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TemporaryDirectory folder;
        const fs::path partial = folder.path() / "artifact.zip.partial";
        if (c.partialBefore) {
            std::ofstream(partial) << *c.partialBefore;
        }
        server.script(c.status, body, "application/zip");
        std::vector<std::pair<std::int64_t, std::int64_t>> progress;
        std::optional<QuayletError> error;
        std::string digest;
        try {
            digest = client.download(server.baseURL() + c.path, partial,
                                     {c.promisedSize, std::string(64, 'f')},
                                     [&](std::int64_t received, std::int64_t expected) {
                                         progress.emplace_back(received, expected);
                                     },
                                     {});
        } catch (const QuayletError& failure) {
            error = failure;
        }
        if (c.path == std::string("/files/slow")) {
            EXPECT_TRUE(server.waitUntilSlowTransferStarts());
            server.releaseSlowTransfers();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(fs::exists(partial) ? std::optional(contentsOf(partial)) : std::nullopt,
                  c.partialAfter);
        if (!c.error) {
            EXPECT_EQ(digest, "62801bb8f44345ab4ae2f86a6995d4a85775a14a88f27790112cefdc769a99e1");
            EXPECT_EQ(progress.back(), (std::pair<std::int64_t, std::int64_t>(17, 17)));
            EXPECT_EQ(server.received().at(0).header("Authorization"), "<none>");
        }
    }
}

TEST_F(PreviewAPIClientTest, StoppingEndsATransferInFlight) {
    const testing::TemporaryDirectory folder;
    struct Case {
        const char* name;
        std::function<void(std::stop_token)> call;
    };
    const Case cases[] = {
        {"download",
         [&](std::stop_token stop) {
             client.download(server.baseURL() + "/files/slow", folder.path() / "a.zip",
                             {1000, std::string(64, '0')}, nullptr, stop);
         }},
        {"record request", [&](std::stop_token stop) { client.preview("slow", "tok", stop); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::stop_source stopSource;
        auto transfer = std::async(std::launch::async, c.call, stopSource.get_token());
        const bool started = server.waitUntilSlowTransferStarts();
        stopSource.request_stop();
        const auto outcome = transfer.wait_for(std::chrono::seconds(30));
        // Released before judging, so a transfer that ignored the stop still ends.
        server.releaseSlowTransfers();
        ASSERT_TRUE(started);
        ASSERT_EQ(outcome, std::future_status::ready) << "the transfer ignored the stop";
        EXPECT_THROW(transfer.get(), CancellationError);
        // Whatever arrived stays for the next attempt to resume.
        const std::string kept =
            fs::exists(folder.path() / "a.zip") ? contentsOf(folder.path() / "a.zip") : "";
        EXPECT_TRUE(std::string_view("first piece").starts_with(kept)) << kept;
        fs::remove(folder.path() / "a.zip");
    }
}

// A certificate authority and a server certificate for 127.0.0.1 signed by it.
class TestCertificates {
  public:
    TestCertificates()
        : authorityKey_(EVP_EC_gen("P-256"), EVP_PKEY_free),
          serverKey_(EVP_EC_gen("P-256"), EVP_PKEY_free),
          authority_(issue("Quaylet Test Authority", authorityKey_.get(), nullptr,
                           authorityKey_.get(), true)),
          server_(
              issue("127.0.0.1", serverKey_.get(), authority_.get(), authorityKey_.get(), false)) {}

    X509* serverCertificate() const { return server_.get(); }
    EVP_PKEY* serverKey() const { return serverKey_.get(); }

    void writeAuthority(const fs::path& file) const {
        const std::unique_ptr<FILE, decltype(&fclose)> out(fopen(file.c_str(), "w"), fclose);
        ASSERT_TRUE(out && PEM_write_X509(out.get(), authority_.get()) == 1);
    }

  private:
    using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

    static Certificate issue(const char* name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                             bool isAuthority) {
        Certificate certificate(X509_new(), X509_free);
        X509* x = certificate.get();
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), isAuthority ? 1 : 2);
        X509_gmtime_adj(X509_getm_notBefore(x), -3600);
        X509_gmtime_adj(X509_getm_notAfter(x), 24 * 3600);
        X509_set_pubkey(x, key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
        X509_set_issuer_name(x, X509_get_subject_name(issuer ? issuer : x));
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, issuer ? issuer : x, x, nullptr, nullptr, 0);
        const std::vector<std::pair<int, const char*>> extensions =
            isAuthority
                ? std::vector<std::pair<int, const char*>>{{NID_basic_constraints,
                                                            "critical,CA:TRUE"},
                                                           {NID_key_usage,
                                                            "critical,keyCertSign,cRLSign"},
                                                           {NID_subject_key_identifier, "hash"}}
                : std::vector<std::pair<int, const char*>>{
                      {NID_basic_constraints, "critical,CA:FALSE"},
                      {NID_key_usage, "critical,digitalSignature"},
                      {NID_ext_key_usage, "serverAuth"},
                      {NID_subject_alt_name, "IP:127.0.0.1"},
                      {NID_authority_key_identifier, "keyid:always"}};
        for (const auto& [nid, value] : extensions) {
            X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
            X509_add_ext(x, extension, -1);
            X509_EXTENSION_free(extension);
        }
        X509_sign(x, issuerKey, EVP_sha256());
        return certificate;
    }

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> authorityKey_;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> serverKey_;
    Certificate authority_;
    Certificate server_;
};

TEST(PreviewAPIClientTLSTest, TrustsOnlyCertificatesFromATrustedAuthority) {
    const TestCertificates certificates;
    httplib::SSLServer server(certificates.serverCertificate(), certificates.serverKey());
    ASSERT_TRUE(server.is_valid());
    server.Get("/api/v1/previews/pv_1", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(manifestBody(), "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    const std::string baseURL = "https://127.0.0.1:" + std::to_string(port);

    const testing::TemporaryDirectory folder;
    certificates.writeAuthority(folder.path() / "authority.pem");
    const HTTPSession trusting(HTTPSession::Options{folder.path() / "authority.pem"});
    EXPECT_EQ(PreviewAPIClient(baseURL, trusting).preview("pv_1", "tok", {}).previewId, "pv_1");

    const HTTPSession systemTrust(HTTPSession::Options{});
    try {
        PreviewAPIClient(baseURL, systemTrust).preview("pv_1", "tok", {});
        ADD_FAILURE() << "accepted a certificate from an unknown authority";
    } catch (const TransportError& error) {
        EXPECT_STREQ(error.what(),
                     "The identity of the server at 127.0.0.1 couldn’t be verified, so Quaylet "
                     "didn’t connect. Check your network, then try again.");
    }
    server.stop();
    serving.join();
}

}  // namespace
}  // namespace quaylet
