#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "support/DevServiceProcess.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using nlohmann::json;
using testing::DevServiceProcess;
using testing::TemporaryDirectory;

const std::string kToken = "test-token";
const httplib::Headers kSignedIn = {{"authorization", "Bearer " + kToken}};

void writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

// Bytes that no shortcut could produce, large enough to need many chunks.
std::string archiveBytes(std::size_t size) {
    std::mt19937 generator(7);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

class PreviewServiceTest : public ::testing::Test {
  protected:
    void addBuild(const std::string& previewId, const std::string& createdAt,
                  const std::string& artifact) {
        const auto folder = builds.path() / previewId;
        std::filesystem::create_directory(folder);
        writeFile(folder / "manifest.json", json{{"schemaVersion", 1},
                                                 {"previewId", previewId},
                                                 {"repository", "quaylet/demo"},
                                                 {"pullRequest", 7},
                                                 {"branch", "feature/" + previewId},
                                                 {"commitSha", "0123456789abcdef"},
                                                 {"displayName", "Demo"},
                                                 {"minimumOSVersion", "17.0"},
                                                 {"status", "ready"},
                                                 {"bundleId", "dev.quaylet.Demo"},
                                                 {"createdAt", createdAt}}
                                                .dump());
        writeFile(folder / "artifact.zip", artifact);
    }

    httplib::Client client() const {
        httplib::Client client("127.0.0.1", service->port());
        return client;
    }

    void start(const std::vector<std::string>& arguments = {"--token", kToken}) {
        service.emplace(builds.path(), arguments);
    }

    TemporaryDirectory builds;
    std::optional<DevServiceProcess> service;
};

TEST_F(PreviewServiceTest, RefusesMissingOrWrongBearerTokensWithJSONError) {
    addBuild("pr-1", "2024-05-01T12:00:00Z", "zip");
    start();
    const struct {
        const char* name;
        httplib::Headers headers;
    } credentials[] = {
        {"no authorization", {}},
        {"unknown token", {{"authorization", "Bearer nope"}}},
        {"not a bearer", {{"authorization", "Basic " + kToken}}},
        {"empty bearer", {{"authorization", "Bearer "}}},
    };
    for (const auto& credential : credentials) {
        SCOPED_TRACE(credential.name);
        auto http = client();
        const httplib::Result results[] = {
            http.Get("/api/v1/previews/pr-1", credential.headers),
            http.Get("/api/v1/previews?limit=60", credential.headers),
            http.Post("/api/v1/previews/pr-1/download", credential.headers, "", "text/plain"),
            http.Post("/api/v1/previews/pr-1/launch-events", credential.headers,
                      R"({"stage":"running","successful":true})", "application/json"),
            http.Post("/api/v1/auth/logout", credential.headers, "", "text/plain"),
        };
        for (const auto& result : results) {
            ASSERT_TRUE(result);
            EXPECT_EQ(result->status, 401);
            EXPECT_TRUE(json::parse(result->body)["error"]["message"].is_string());
        }
    }
}

TEST_F(PreviewServiceTest, AnswersManifestsAndNewestBuildsFirstUpToTheLimit) {
    addBuild("pr-old", "2024-05-01T12:00:00Z", "a");
    addBuild("pr-new", "2024-05-03T12:00:00Z", "b");
    addBuild("pr-mid", "2024-05-02T12:00:00Z", "c");
    start();
    auto http = client();

    const auto manifest = http.Get("/api/v1/previews/pr-mid", kSignedIn);
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->status, 200);
    std::ifstream stored(builds.path() / "pr-mid" / "manifest.json");
    EXPECT_EQ(json::parse(manifest->body), json::parse(stored));

    const struct {
        const char* query;
        std::vector<std::string> previewIds;
    } listings[] = {
        {"", {"pr-new", "pr-mid", "pr-old"}},
        {"?limit=60", {"pr-new", "pr-mid", "pr-old"}},
        {"?limit=2", {"pr-new", "pr-mid"}},
        {"?limit=0", {}},
    };
    for (const auto& listing : listings) {
        SCOPED_TRACE(listing.query);
        const auto result = http.Get(std::string("/api/v1/previews") + listing.query, kSignedIn);
        ASSERT_TRUE(result);
        ASSERT_EQ(result->status, 200);
        const json answer = json::parse(result->body);
        std::vector<std::string> previewIds;
        for (const auto& summary : answer.at("previews")) {
            EXPECT_EQ(summary.at("branch"),
                      "feature/" + summary.at("previewId").get<std::string>());
            EXPECT_FALSE(summary.contains("bundleId"));
            previewIds.push_back(summary.at("previewId"));
        }
        EXPECT_EQ(previewIds, listing.previewIds);
    }

    const struct {
        const char* path;
        int status;
    } refusals[] = {
        {"/api/v1/previews?limit=-1", 400},
        {"/api/v1/previews?limit=ten", 400},
        {"/api/v1/previews/pr-missing", 404},
        {"/api/v1/previews/..%2Fpr-old", 404},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.path);
        const auto result = http.Get(refusal.path, kSignedIn);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, refusal.status);
    }
}

TEST_F(PreviewServiceTest, DownloadURLServesTheArchiveOnlyForItsOwnBuild) {
    const std::string large = archiveBytes(3 * 1024 * 1024 + 17);
    addBuild("pr-1", "2024-05-01T12:00:00Z", large);
    addBuild("pr-2", "2024-05-02T12:00:00Z", "other");
    start();
    auto http = client();

    const auto grant = http.Post("/api/v1/previews/pr-1/download", kSignedIn, "", "text/plain");
    ASSERT_TRUE(grant);
    ASSERT_EQ(grant->status, 200);
    const json answer = json::parse(grant->body);
    EXPECT_EQ(answer.at("direct"), false);
    EXPECT_TRUE(answer.at("expiresAt").is_string());
    const std::string url = answer.at("url");
    const std::string origin = service->baseURL();
    ASSERT_TRUE(url.starts_with(origin + "/artifacts/pr-1?token=")) << url;
    const std::string path = url.substr(origin.size());

    // The URL carries its own authorisation: no bearer token is sent.
    const auto download = http.Get(path);
    ASSERT_TRUE(download);
    EXPECT_EQ(download->status, 200);
    EXPECT_TRUE(download->body == large) << "received " << download->body.size() << " bytes";

    const std::string grantToken = path.substr(path.find("token=") + 6);
    const struct {
        const char* name;
        std::string path;
    } refusals[] = {
        {"no token", "/artifacts/pr-1"},
        {"made-up token", "/artifacts/pr-1?token=0000"},
        {"another build's grant", "/artifacts/pr-2?token=" + grantToken},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        const auto result = http.Get(refusal.path);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 403);
    }

    const auto missing = http.Post("/api/v1/previews/pr-9/download", kSignedIn, "", "text/plain");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

TEST_F(PreviewServiceTest, BrowserSignInCodeBuysATokenThatLogoutRevokes) {
    addBuild("pr-1", "2024-05-01T12:00:00Z", "zip");
    start({});
    auto http = client();

    const auto page = http.Get("/api/v1/auth/github?client=mac");
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 302);
    const std::string location = page->get_header_value("Location");
    const std::string prefix = "quaylet://auth?code=";
    ASSERT_TRUE(location.starts_with(prefix)) << location;
    EXPECT_NE(page->body.find(location), std::string::npos);
    const std::string code = location.substr(prefix.size());

    const std::string exchangeBody = json{{"code", code}}.dump();
    const auto exchange = http.Post("/api/v1/auth/mac/exchange", exchangeBody, "application/json");
    ASSERT_TRUE(exchange);
    ASSERT_EQ(exchange->status, 200);
    const json issued = json::parse(exchange->body);
    EXPECT_TRUE(issued.at("expiresIn").is_number_integer());
    const httplib::Headers bearer = {
        {"authorization", "Bearer " + issued.at("token").get<std::string>()}};
    EXPECT_EQ(http.Get("/api/v1/previews/pr-1", bearer)->status, 200);

    const struct {
        const char* name;
        std::string body;
        int status;
    } exchanges[] = {
        {"a code works once", exchangeBody, 401},
        {"unknown code", R"({"code":"made-up"})", 401},
        {"no code", "{}", 400},
        {"not JSON", "code=x", 400},
    };
    for (const auto& attempt : exchanges) {
        SCOPED_TRACE(attempt.name);
        const auto result =
            http.Post("/api/v1/auth/mac/exchange", attempt.body, "application/json");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, attempt.status);
    }
    EXPECT_EQ(http.Get("/api/v1/auth/github?client=web")->status, 400);

    EXPECT_EQ(http.Post("/api/v1/auth/logout", bearer, "", "text/plain")->status, 204);
    EXPECT_EQ(http.Get("/api/v1/previews/pr-1", bearer)->status, 401);
}

TEST_F(PreviewServiceTest, RecordsValidLaunchEventsForInspection) {
    addBuild("pr-1", "2024-05-01T12:00:00Z", "zip");
    start();
    auto http = client();
    const struct {
        const char* body;
        int status;
    } events[] = {
        {R"({"stage":"running","successful":true,"durationMs":2500})", 204},
        {R"({"stage":"running","successful":false,"errorCode":"boot"})", 204},
        {R"({"stage":"running"})", 400},
        {R"({"stage":"running","successful":true,"durationMs":"fast"})", 400},
        {"[]", 400},
    };
    for (const auto& event : events) {
        SCOPED_TRACE(event.body);
        const auto result = http.Post("/api/v1/previews/pr-1/launch-events", kSignedIn, event.body,
                                      "application/json");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, event.status);
    }

    const auto recorded = http.Get("/dev/launch-events");
    ASSERT_TRUE(recorded);
    EXPECT_EQ(json::parse(recorded->body), json::parse(R"([
                  {"previewId":"pr-1","stage":"running","successful":true,"durationMs":2500},
                  {"previewId":"pr-1","stage":"running","successful":false,"errorCode":"boot"}
              ])"));
}

TEST_F(PreviewServiceTest, WithoutSignInServesRequestsWithoutAToken) {
    addBuild("pr-1", "2024-05-01T12:00:00Z", "zip");
    start({"--no-sign-in"});
    auto http = client();
    EXPECT_EQ(http.Get("/api/v1/previews/pr-1")->status, 200);
    EXPECT_EQ(http.Post("/api/v1/previews/pr-1/download", "", "text/plain")->status, 200);
}

TEST_F(PreviewServiceTest, ArmedFaultsHoldUntilClearedAndMalformedOnesAreRefused) {
    addBuild("pr-1", "2024-05-01T12:00:00Z", "zip");
    start();
    auto http = client();
    for (const char* malformed : {
             R"({"route":"manifest","fault":"drop"})",
             R"({"route":"manifest","fault":"status","status":200})",
             R"({"route":"list","fault":"stall"})",
             R"({"route":"manifest","fault":"status","status":"503"})",
             "[]",
         }) {
        SCOPED_TRACE(malformed);
        EXPECT_EQ(http.Post("/dev/faults", malformed, "application/json")->status, 400);
    }

    ASSERT_EQ(http.Post("/dev/faults", R"({"route":"manifest","fault":"status","status":503})",
                        "application/json")
                  ->status,
              204);
    const auto refused = http.Get("/api/v1/previews/pr-1", kSignedIn);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_TRUE(json::parse(refused->body)["error"]["message"].is_string());
    EXPECT_EQ(http.Post("/api/v1/previews/pr-1/download", kSignedIn, "", "text/plain")->status, 200)
        << "other routes are untouched";

    ASSERT_EQ(http.Delete("/dev/faults")->status, 204);
    EXPECT_EQ(http.Get("/api/v1/previews/pr-1", kSignedIn)->status, 200);
}

}  // namespace
}  // namespace quaylet
