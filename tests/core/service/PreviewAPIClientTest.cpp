#include "core/service/PreviewAPIClient.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "core/errors/QuayletError.h"
#include "core/process/ProcessRunner.h"
#include "core/service/AbsoluteURL.h"
#include "core/service/CredentialStore.h"
#include "core/service/ServiceRecords.h"
#include "support/PrivateSecretService.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

// Answers every request under /api/ and /files/ with the scripted status and body and keeps
// each as a line of its method, target and the headers the client chooses; /offsite sends the
// client to a plain http address of another server, and /files/chunked sends the body without
// announcing its length. Given a folder with cert.pem and key.pem, it speaks https.
class LoopbackServer {
  public:
    const std::string& baseURL() const { return baseURL_; }

    void script(int status, std::string body) {
        const std::lock_guard lock(mutex_);
        status_ = status;
        body_ = std::move(body);
        received_.clear();
    }

    std::vector<std::string> received() {
        const std::lock_guard lock(mutex_);
        return received_;
    }

    explicit LoopbackServer(const std::optional<fs::path>& tls = std::nullopt)
        : server_(tls ? std::make_unique<httplib::SSLServer>((*tls / "cert.pem").c_str(),
                                                             (*tls / "key.pem").c_str())
                      : std::make_unique<httplib::Server>()) {
        // Answers as a server without Range support does: always the whole body.
        server_->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
            const_cast<httplib::Request&>(request).ranges.clear();
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server_->Get(R"(.*/chunked)", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/octet-stream",
                                                  [this](std::size_t, httplib::DataSink& sink) {
                                                      const std::lock_guard lock(mutex_);
                                                      sink.write(body_.data(), body_.size());
                                                      sink.done();
                                                      return true;
                                                  });
        });
        server_->Get("/offsite", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("http://0.0.0.0:1/a.zip");
        });
        const auto respond = [this](const httplib::Request& request, httplib::Response& response) {
            const std::lock_guard lock(mutex_);
            received_.push_back(request.method + " " + request.target +
                                " auth=" + request.get_header_value("Authorization") +
                                " accept=" + request.get_header_value("Accept"));
            response.status = status_;
            response.set_content(body_, request.path.starts_with("/files/") ? "application/zip"
                                                                            : "application/json");
        };
        server_->Get(R"(/(api|files)/.*)", respond);
        server_->Post(R"(/(api|files)/.*)", respond);
        baseURL_ = std::string(tls ? "https" : "http") +
                   "://127.0.0.1:" + std::to_string(server_->bind_to_any_port("127.0.0.1"));
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        // A stop that arrives before the server runs is lost and the join would hang.
        while (!server_->is_running()) {
            std::this_thread::yield();
        }
    }

    ~LoopbackServer() {
        server_->stop();
        thread_.join();
    }

  private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::string baseURL_;
    std::mutex mutex_;
    int status_ = 200;
    std::string body_;
    std::vector<std::string> received_;
};

// What a failure tells: its sentence, after the status of a refused answer (retries go by it).
std::string told(const QuayletError& error) {
    const auto* refusal = error.as<QuayletError::ServiceError>();
    return (refusal ? std::to_string(refusal->status) + " " : "") + error.errorDescription();
}

template <typename Operation>
std::string failureOf(Operation operation) {
    try {
        operation();
    } catch (const QuayletError& error) {
        return told(error);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no failure";
}

class PreviewAPIClientTest : public ::testing::Test {
  protected:
    PreviewAPIClientTest() { session.start(); }

    LoopbackServer server;
    HTTPSession session{HTTPSession::Options{}};
    // The base URL's own path and query must give way to every request path.
    PreviewAPIClient client{server.baseURL() + "/ignored/base?stale=1", session};
};

TEST_F(PreviewAPIClientTest, RefusedAnswersBecomeTheirSentences) {
    const std::string fallback =
        "This build couldn’t be loaded. Check your connection, then try again.";
    const std::string signInFailed = "GitHub sign-in could not be completed.";
    const auto preview = [&] { client.preview("pv_1", "tok", {}); };
    const auto exchange = [&] { client.exchangeAuthenticationCode("c", {}); };
    // The status and body answered, the call, and the status and sentence of its failure.
    const std::tuple<int, std::string, std::function<void()>, std::string> cases[] = {
        {404, "<html>Not Found</html>", preview, "404 " + fallback},
        {401, R"({"error": {"message": "Token expired."}})", preview,
         told(QuayletError::authenticationRequired())},
        {502, R"({"error": {"message": 7}})", preview, "502 " + fallback},
        {401, R"({"error": {"message": "bad code"}})", exchange, "401 " + signInFailed},
        {200, R"({"token": "api-token"})", exchange, "200 " + signInFailed},  // not whole
        {401, "", [&] { client.revokeAuthentication("tok", {}); },
         "401 GitHub sign-out failed. Check your connection, then try again."},
        // Nothing listens on port 1: the refusal names the server.
        {200, "", [&] { PreviewAPIClient("http://127.0.0.1:1", session).preview("pv_1", "t", {}); },
         "Couldn’t connect to the server at 127.0.0.1. Check your connection, then try again."},
    };
    for (const auto& [status, body, call, failure] : cases) {
        SCOPED_TRACE(body);
        server.script(status, body);
        EXPECT_EQ(failureOf(call), failure);
    }
}

TEST_F(PreviewAPIClientTest, IdentifiersOutsideTheirAlphabetAreRefusedBeforeSending) {
    server.script(200, testing::manifestJson().dump());
    const std::string incompleteLink = told(QuayletError::invalidDeepLink());
    // The incoming link's test reads the rest of the alphabet and the length.
    for (const char* id : {"", ".", "..", "a/b", "a!b", "%2e%2e%2fauth"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(failureOf([&] { client.preview(id, "tok", {}); }), incompleteLink);
        client.recordLaunch(id, "tok", "running", true, std::nullopt, std::nullopt, {});
    }
    EXPECT_TRUE(server.received().empty());
    client.preview("pv_1-.~AZ09", "tok", {});
    EXPECT_EQ(server.received(),
              std::vector<std::string>{"GET /api/v1/previews/pv_1-.~AZ09 "
                                       "auth=Bearer tok accept=application/json"});
}

TEST(URLRuleTest, HTTPSAnywherePlainHTTPOnlyToThisComputerWhenAllowed) {
    // The address, and whether it is permitted with plain http to this computer and without.
    const std::tuple<const char*, bool, bool> cases[] = {
        {"HTTPS://quaylet.dev", true, true},       {"http://127.255.0.9", true, false},
        {"http://[::1]:8080", true, false},        {"http://LocalHost/", true, false},
        {"http://128.0.0.1", false, false},        {"http://localhost.quaylet.dev", false, false},
        {"http://127.0.0.1.nip.io", false, false}, {"http://[::ffff:127.0.0.1]", false, false},
        {"ftp://127.0.0.1/x", false, false},       {"not a url", false, false},
    };
    for (const auto& [url, withLoopbackHTTP, withoutIt] : cases) {
        SCOPED_TRACE(url);
        EXPECT_EQ(isPermittedURL(url, true), withLoopbackHTTP);
        EXPECT_EQ(isPermittedURL(url, false), withoutIt);
    }
}

// A download ends as soon as it would pass the size the manifest promised, and leaves no file.
// Neither a download address nor a redirect may lead to plain http elsewhere, and a service
// that is not on this computer may not lead to plain http at all; nothing is sent there.
TEST_F(PreviewAPIClientTest, DownloadStaysWithinThePromisedSizeAndOffPlainHTTPElsewhere) {
    const std::string body = "new archive bytes";
    const std::string tooLong = told(QuayletError::checksumMismatch(std::string(64, 'f'), ""));
    const std::string digest = "62801bb8f44345ab4ae2f86a6995d4a85775a14a88f27790112cefdc769a99e1";
    const auto insecure = [](const std::string& host) {
        return "The server at " + host +
               " gave an address that isn’t secure, so Quaylet didn’t connect. Try again later.";
    };
    const std::string files = server.baseURL() + "/files/";
    const PreviewAPIClient elsewhere("https://0.0.0.0:1", session);
    const struct {
        const char* name;
        const PreviewAPIClient& via;
        std::optional<std::string> partialBefore;
        std::string from;
        std::int64_t promisedSize;
        std::string outcome;  // the digest, or the failure's message
        std::optional<std::uintmax_t> partialSizeAfter;
    } cases[] = {
        {"a 200 to a resume starts over", client, "stale", files + "a.zip", 17, digest, 17},
        {"body passes the promise by one byte mid-transfer", client, std::nullopt,
         files + "chunked", 16, tooLong, std::nullopt},
        {"leftover above the promise", client, "0123456789", files + "a.zip", 5, tooLong,
         std::nullopt},
        {"plain http elsewhere", client, std::nullopt, "http://0.0.0.0:1/a.zip", 17,
         insecure("0.0.0.0"), 0},
        {"redirect to plain http elsewhere", client, std::nullopt, server.baseURL() + "/offsite",
         17, insecure("127.0.0.1"), 0},
        {"plain http from a service elsewhere", elsewhere, std::nullopt, files + "a.zip", 17,
         insecure("127.0.0.1"), 0},
    };
    // Only the download that succeeds reaches the server, and without the token.
    const std::vector<std::string> sentOnSuccess = {"GET /files/a.zip auth= accept="};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TemporaryDirectory folder;
        const fs::path partial = folder.path() / "artifact.zip.partial";
        if (c.partialBefore) {
            std::ofstream(partial) << *c.partialBefore;
        }
        server.script(200, body);
        std::string digestWritten;
        std::string outcome = failureOf([&] {
            digestWritten =
                c.via.download(c.from, partial, {c.promisedSize, std::string(64, 'f')}, {}, {});
        });
        outcome = outcome == "no failure" ? digestWritten : outcome;
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(fs::exists(partial) ? std::optional(fs::file_size(partial)) : std::nullopt,
                  c.partialSizeAfter);
        EXPECT_EQ(server.received(),
                  outcome == digest ? sentOnSuccess : std::vector<std::string>{});
    }
    EXPECT_THROW(PreviewAPIClient("http://0.0.0.0", session).preview("pv_1", "t", {}),
                 std::invalid_argument);
}

TEST(PreviewAPIClientTLSTest, TrustsOnlyCertificatesFromATrustedAuthority) {
    // A certificate for 127.0.0.1 that is its own authority.
    const testing::TemporaryDirectory folder;
    const std::string dir = folder.path().string();
    ProcessRunner().runChecked(
        {"/usr/bin/openssl",
         {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days",
          "1", "-keyout", dir + "/key.pem", "-out", dir + "/cert.pem", "-subj", "/CN=127.0.0.1",
          "-addext", "subjectAltName=IP:127.0.0.1"}},
        {});
    LoopbackServer server(folder.path());
    server.script(200, testing::manifestJson().dump());
    const HTTPSession trusting(HTTPSession::Options{folder.path() / "cert.pem"});
    trusting.start();
    const HTTPSession systemTrust(HTTPSession::Options{});
    systemTrust.start();
    EXPECT_NO_THROW(PreviewAPIClient(server.baseURL(), trusting).preview("pv_1", "tok", {}));
    const PreviewAPIClient untrusting(server.baseURL(), systemTrust);
    EXPECT_EQ(failureOf([&] { untrusting.preview("pv_1", "tok", {}); }),
              "The identity of the server at 127.0.0.1 couldn’t be verified, so Quaylet didn’t "
              "connect. Check your network, then try again.");
}

// Runs the store operations in a fresh process (see CredentialStoreProbe.cpp): a line each.
std::string runStore(const std::vector<std::string>& operations) {
    return ProcessRunner()
        .runChecked(ToolCommand{QUAYLET_CREDENTIAL_STORE_PROBE, operations}, std::stop_token())
        .standardOutput;
}

// A second save replaces the first and removing twice is no failure; empty and non-ASCII
// tokens read back as saved, bytes that are not UTF-8 as absent. A locked keyring and no
// secret service at all read as absent and refuse saves without prompting.
TEST(CredentialStoreTest, KeepsOneTokenInTheSecretService) {
    const testing::PrivateSecretService keyring;
    EXPECT_EQ(runStore({"save:first", "save:second", "read", "remove", "remove", "read", "save:",
                        "read", "save:gho_Tökén✓🔑", "read", "save:\xff\xfe", "read", "save:abc"}),
              "saved\nsaved\ntoken:second\nremoved\nremoved\nabsent\nsaved\ntoken:\nsaved\n"
              "token:gho_Tökén✓🔑\nsaved\nabsent\nsaved\n");
    const std::string unavailable =
        "absent\nrefused:Quaylet couldn’t save your GitHub sign-in. "
        "Unlock Keychain, then try again.\nremoved\nabsent\n";
    keyring.lockDefaultCollection();
    EXPECT_EQ(runStore({"read", "save:def", "remove", "read"}), unavailable);
    const testing::TemporaryDirectory empty;
    const testing::ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS",
                                         "unix:path=" + (empty.path() / "no-bus").string());
    EXPECT_EQ(runStore({"read", "save:abc", "remove", "read"}), unavailable);
}

}  // namespace
}  // namespace quaylet
