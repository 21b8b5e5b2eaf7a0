#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "core/process/ProcessRunner.h"
#include "support/DevServiceProcess.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using nlohmann::json;
using testing::DevServiceProcess;

const std::string kToken = "test-token";
const httplib::Headers kSignedIn = {{"authorization", "Bearer " + kToken}};

// One request to the service and the status it must answer.
struct Request {
    std::string method;
    std::string path;
    std::string body = "";
    httplib::Headers headers = kSignedIn;
};

// Serves three builds (pr-old, pr-mid, pr-new, made in that order of days) from a folder of
// its own; pr-mid's archive is large enough to need many chunks, in bytes no shortcut makes.
class PreviewServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::mt19937 generator(7);
        large.resize(3 * 1024 * 1024 + 17);
        for (auto& byte : large) {
            byte = static_cast<char>(generator());
        }
        for (const auto& [id, day, artifact] :
             {std::tuple("pr-old", "01", std::string("a")),
              std::tuple("pr-new", "03", std::string("b")), std::tuple("pr-mid", "02", large)}) {
            std::filesystem::create_directory(builds.path() / id);
            std::ofstream(builds.path() / id / "manifest.json")
                << json{{"schemaVersion", 1},
                        {"previewId", id},
                        {"branch", "feature/x"},
                        {"status", "ready"},
                        {"bundleId", "dev.q.Demo"},
                        {"createdAt", "2024-05-" + std::string(day) + "T12:00:00Z"}};
            std::ofstream(builds.path() / id / "artifact.zip", std::ios::binary) << artifact;
        }
    }

    httplib::Result send(const Request& request) {
        httplib::Client http("127.0.0.1", service->port());
        if (request.method == "GET") {
            return http.Get(request.path, request.headers);
        }
        if (request.method == "DELETE") {
            return http.Delete(request.path, request.headers);
        }
        return http.Post(request.path, request.headers, request.body, "application/json");
    }

    json answer(const Request& request) {
        const httplib::Result result = send(request);
        EXPECT_TRUE(result && result->status == 200) << request.path;
        return result ? json::parse(result->body) : json();
    }

    void expectStatuses(const std::vector<std::pair<Request, int>>& requests) {
        for (const auto& [request, expected] : requests) {
            SCOPED_TRACE(request.method + " " + request.path + " " + request.body);
            const httplib::Result result = send(request);
            ASSERT_TRUE(result);
            EXPECT_EQ(result->status, expected);
            if (expected >= 400 && !result->body.empty()) {  // an error, when told, as JSON
                EXPECT_TRUE(json::parse(result->body)["error"]["message"].is_string());
            }
        }
    }

    testing::TemporaryDirectory builds;
    std::string large;
    std::optional<DevServiceProcess> service;
};

TEST_F(PreviewServiceTest, AnswersManifestsListsArchivesAndLaunchEvents) {
    service.emplace(builds.path(), std::vector<std::string>{"--token", kToken});
    EXPECT_EQ(answer({"GET", "/api/v1/previews/pr-mid"}),
              json::parse(std::ifstream(builds.path() / "pr-mid" / "manifest.json")));
    for (const auto& [query, expected] : {std::pair("", json{"pr-new", "pr-mid", "pr-old"}),
                                          std::pair("?limit=2", json{"pr-new", "pr-mid"})}) {
        SCOPED_TRACE(query);
        json previewIds = json::array();
        const json listed = answer({"GET", std::string("/api/v1/previews") + query});
        for (const json& summary : listed["previews"]) {
            EXPECT_EQ(summary.at("branch"), "feature/x");
            EXPECT_FALSE(summary.contains("bundleId"));
            previewIds.push_back(summary.at("previewId"));
        }
        EXPECT_EQ(previewIds, expected);
    }

    // The download address carries its own authorisation: no bearer token is sent.
    const json grant = answer({"POST", "/api/v1/previews/pr-mid/download"});
    EXPECT_EQ(grant.at("direct"), false);
    EXPECT_TRUE(grant.at("expiresAt").is_string());
    const std::string url = grant.at("url");
    ASSERT_TRUE(url.starts_with(service->baseURL() + "/artifacts/pr-mid?token=")) << url;
    const std::string path = url.substr(service->baseURL().size());
    const httplib::Result download = send({"GET", path, "", {}});
    ASSERT_TRUE(download);
    EXPECT_EQ(download->status, 200);
    EXPECT_TRUE(download->body == large) << "received " << download->body.size() << " bytes";

    const std::string running = R"({"stage":"running","successful":true,"durationMs":2500})";
    const std::string failed = R"({"stage":"running","successful":false,"errorCode":"boot"})";
    const auto withAuthorization = [](std::string value) {
        return httplib::Headers{{"authorization", std::move(value)}};
    };
    expectStatuses({
        {{"GET", "/api/v1/previews/pr-old", "", {}}, 401},
        {{"GET", "/api/v1/previews?limit=60", "", withAuthorization("Bearer nope")}, 401},
        {{"POST", "/api/v1/previews/pr-old/download", "", withAuthorization("Basic " + kToken)},
         401},
        {{"POST", "/api/v1/previews/pr-old/launch-events", running, withAuthorization("Bearer ")},
         401},
        {{"GET", "/api/v1/previews?limit=-1"}, 400},
        {{"GET", "/api/v1/previews/..%2Fpr-old"}, 404},
        {{"POST", "/api/v1/previews/pr-9/download"}, 404},
        {{"GET", "/artifacts/pr-mid", "", {}}, 403},
        {{"GET", "/artifacts/pr-old?token=" + path.substr(path.find("token=") + 6), "", {}}, 403},
        {{"POST", "/api/v1/previews/pr-old/launch-events", running}, 204},
        {{"POST", "/api/v1/previews/pr-old/launch-events", failed}, 204},
        {{"POST", "/api/v1/previews/pr-old/launch-events", R"({"stage":"running"})"}, 400},
    });
    json expected = json::array({json::parse(running), json::parse(failed)});
    for (json& event : expected) {
        event["previewId"] = "pr-old";
    }
    EXPECT_EQ(answer({"GET", "/dev/launch-events"}), expected);
}

TEST_F(PreviewServiceTest, BrowserSignInCodeBuysATokenThatLogoutRevokes) {
    service.emplace(builds.path());
    const httplib::Result page = send({"GET", "/api/v1/auth/github?client=mac"});
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 302);
    const std::string location = page->get_header_value("Location");
    const std::string prefix = "quaylet://auth?code=";
    ASSERT_TRUE(location.starts_with(prefix)) << location;
    const std::string exchange = json{{"code", location.substr(prefix.size())}}.dump();
    const json issued = answer({"POST", "/api/v1/auth/mac/exchange", exchange, {}});
    const httplib::Headers bearer = {
        {"authorization", "Bearer " + issued.at("token").get<std::string>()}};
    expectStatuses({
        {{"GET", "/api/v1/previews/pr-old", "", bearer}, 200},
        {{"POST", "/api/v1/auth/mac/exchange", exchange, {}}, 401},  // a code works once
        {{"POST", "/api/v1/auth/mac/exchange", R"({"code":"made-up"})", {}}, 401},
        {{"POST", "/api/v1/auth/logout", "", bearer}, 204},
        {{"GET", "/api/v1/previews/pr-old", "", bearer}, 401},
    });
}

TEST(DemoBuildTest, RefusesAPreviewIdThatIsNotAPlainName) {
    const testing::TemporaryDirectory builds;
    const auto result = ProcessRunner().run(
        ToolCommand{DevServiceProcess::program(),
                    {"make-demo-build", builds.path().string(), "--preview-id", "../escape"}},
        std::stop_token());
    EXPECT_NE(result.status, 0);
    EXPECT_FALSE(std::filesystem::exists(builds.path().parent_path() / "escape"));
}

}  // namespace
}  // namespace quaylet
