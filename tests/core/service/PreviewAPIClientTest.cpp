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
#include "core/service/AbsoluteURL.h"
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
// what it received. /redirect/<name> sends the client to /files/<name>, /offsite/http and
// /offsite/https to a plain and a secure address of another server; a path ending in
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
        server_.Get("/offsite/http", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("http://0.0.0.0:1/a.zip");
        });
        server_.Get("/offsite/https", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("https://127.0.0.1:1/a.zip");
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

std::vector<fs::path> entriesOf(const fs::path& folder) {
    return {fs::directory_iterator(folder), fs::directory_iterator()};
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

TEST_F(PreviewAPIClientTest, IdentifiersOutsideTheirAlphabetAreRefusedBeforeSending) {
    server.script(200, manifestBody());
    const std::string tooLong(201, 'a');
    for (const char* id : {"a b", "", "..", ".", "a/b", "a?b", "a#b", "a%2", "%2e%2e%2fauth", "a!b",
                           "ä", "a\"b", tooLong.c_str()}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(quayletFailure([&] { client.preview(id, "tok", {}); }),
                  QuayletError::invalidDeepLink());
        EXPECT_EQ(quayletFailure([&] { client.artifactURL(id, "tok", {}); }),
                  QuayletError::invalidDeepLink());
        client.recordLaunch(id, "tok", "running", true, std::nullopt, std::nullopt, {});
    }
    EXPECT_TRUE(server.received().empty());
    client.preview("pv_1-.~AZ09", "tok", {});
    EXPECT_EQ(server.received().at(0).path, "/api/v1/previews/pv_1-.~AZ09");
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

TEST(URLRuleTest, HTTPSAnywherePlainHTTPOnlyToThisComputerWhenAllowed) {
    const struct {
        const char* url;
        bool withLoopbackHTTP;
        bool withoutIt;
    } cases[] = {
        {"https://quaylet.dev/api", true, true},   {"HTTPS://quaylet.dev", true, true},
        {"http://127.0.0.1:8080/x", true, false},  {"http://127.255.0.9", true, false},
        {"http://[::1]:8080", true, false},        {"http://LocalHost/", true, false},
        {"http://quaylet.dev", false, false},      {"http://128.0.0.1", false, false},
        {"http://0.0.0.0", false, false},          {"http://localhost.quaylet.dev", false, false},
        {"http://127.0.0.1.nip.io", false, false}, {"http://[::ffff:127.0.0.1]", false, false},
        {"ftp://127.0.0.1/x", false, false},       {"not a url", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(isPermittedURL(c.url, true), c.withLoopbackHTTP);
        EXPECT_EQ(isPermittedURL(c.url, false), c.withoutIt);
    }
}

// Neither a download address nor a redirect may lead to plain http elsewhere, and a service
// that is not on this computer may not lead to plain http at all; nothing is sent there.
TEST_F(PreviewAPIClientTest, PlainHTTPIsNeverAskedForOutsideThisComputer) {
    const testing::TemporaryDirectory folder;
    const auto destination = folder.path() / "a.zip";
    const auto insecure = [](const std::string& host) {
        return "The server at " + host +
               " gave an address that isn’t secure, so Quaylet didn’t connect. Try again later.";
    };
    const PreviewAPIClient elsewhere("https://0.0.0.0:1", session);
    const struct {
        const char* name;
        const PreviewAPIClient& client;
        std::string from;
        std::string message;
    } cases[] = {
        {"plain http elsewhere", client, "http://0.0.0.0:1/a.zip", insecure("0.0.0.0")},
        {"redirect to plain http elsewhere", client, server.baseURL() + "/offsite/http",
         insecure("127.0.0.1")},
        {"plain http from a service elsewhere", elsewhere, server.baseURL() + "/files/a.zip",
         insecure("127.0.0.1")},
        {"redirect to https is followed", client, server.baseURL() + "/offsite/https",
         "Couldn’t connect to the server at 127.0.0.1. Check your connection, then try again."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.script(200, "zip");
        try {
            c.client.download(c.from, destination, {});
            ADD_FAILURE() << "downloaded";
        } catch (const TransportError& error) {
            EXPECT_EQ(error.what(), c.message);
        }
        EXPECT_TRUE(server.received().empty());
        EXPECT_FALSE(std::filesystem::exists(destination));
    }
    EXPECT_THROW(PreviewAPIClient("http://0.0.0.0", session), std::invalid_argument);
}

TEST_F(PreviewAPIClientTest, DownloadReplacesTheDestinationOnlyAfterSuccess) {
    const testing::TemporaryDirectory folder;
    const fs::path destination = folder.path() / "artifact.zip";
    std::ofstream(destination) << "old contents";

    server.script(200, "new archive bytes", "application/zip");
    client.download(server.baseURL() + "/redirect/artifact.zip", destination, {});
    EXPECT_EQ(server.received().at(0).path, "/files/artifact.zip");
    EXPECT_EQ(server.received().at(0).header("Authorization"), "<none>");
    std::ifstream replaced(destination);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(replaced), {}), "new archive bytes");
    EXPECT_EQ(entriesOf(folder.path()), std::vector<fs::path>{destination});

    const fs::path fresh = folder.path() / "other.zip";
    server.script(403, "<Error>AccessDenied</Error>", "application/xml");
    EXPECT_EQ(quayletFailure([&] { client.download(server.baseURL() + "/files/x", fresh, {}); }),
              QuayletError::serviceError(
                  403, "The build couldn’t be downloaded. Check your connection, then try again."));
    EXPECT_EQ(entriesOf(folder.path()), std::vector<fs::path>{destination});
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
             client.download(server.baseURL() + "/files/slow", folder.path() / "a.zip", stop);
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
        EXPECT_TRUE(entriesOf(folder.path()).empty());
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
