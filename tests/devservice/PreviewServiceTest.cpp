#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "core/artifacts/AppInspector.h"
#include "core/artifacts/ArtifactSecurity.h"
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

TEST_F(PreviewServiceTest, RefusesMissingOrWrongBearerTokensWithJSONError) {
    service.emplace(builds.path(), std::vector<std::string>{"--token", kToken});
    for (const httplib::Headers& headers :
         {httplib::Headers{}, httplib::Headers{{"authorization", "Bearer nope"}},
          httplib::Headers{{"authorization", "Basic " + kToken}},
          httplib::Headers{{"authorization", "Bearer "}}}) {
        for (const Request& request :
             {Request{"GET", "/api/v1/previews/pr-old", "", headers},
              Request{"GET", "/api/v1/previews?limit=60", "", headers},
              Request{"POST", "/api/v1/previews/pr-old/download", "", headers},
              Request{"POST", "/api/v1/previews/pr-old/launch-events",
                      R"({"stage":"running","successful":true})", headers},
              Request{"POST", "/api/v1/auth/logout", "", headers}}) {
            SCOPED_TRACE(request.path + " with " + ::testing::PrintToString(headers));
            const httplib::Result result = send(request);
            ASSERT_TRUE(result);
            EXPECT_EQ(result->status, 401);
            EXPECT_TRUE(json::parse(result->body)["error"]["message"].is_string());
        }
    }
}

TEST_F(PreviewServiceTest, AnswersManifestsListsArchivesAndLaunchEvents) {
    service.emplace(builds.path(), std::vector<std::string>{"--token", kToken});
    EXPECT_EQ(answer({"GET", "/api/v1/previews/pr-mid"}),
              json::parse(std::ifstream(builds.path() / "pr-mid" / "manifest.json")));
    for (const auto& [query, expected] :
         {std::pair("", json{"pr-new", "pr-mid", "pr-old"}),
          std::pair("?limit=60", json{"pr-new", "pr-mid", "pr-old"}),
          std::pair("?limit=2", json{"pr-new", "pr-mid"}), std::pair("?limit=0", json::array())}) {
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
    expectStatuses({
        {{"GET", "/api/v1/previews?limit=-1"}, 400},
        {{"GET", "/api/v1/previews?limit=ten"}, 400},
        {{"GET", "/api/v1/previews/pr-missing"}, 404},
        {{"GET", "/api/v1/previews/..%2Fpr-old"}, 404},
        {{"POST", "/api/v1/previews/pr-9/download"}, 404},
        {{"GET", "/artifacts/pr-mid", "", {}}, 403},
        {{"GET", "/artifacts/pr-mid?token=0000", "", {}}, 403},
        {{"GET", "/artifacts/pr-old?token=" + path.substr(path.find("token=") + 6), "", {}}, 403},
        {{"POST", "/api/v1/previews/pr-old/launch-events", running}, 204},
        {{"POST", "/api/v1/previews/pr-old/launch-events", failed}, 204},
        {{"POST", "/api/v1/previews/pr-old/launch-events", R"({"stage":"running"})"}, 400},
        {{"POST", "/api/v1/previews/pr-old/launch-events",
          R"({"stage":"running","successful":true,"durationMs":"fast"})"},
         400},
        {{"POST", "/api/v1/previews/pr-old/launch-events", "[]"}, 400},
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
    EXPECT_NE(page->body.find(location), std::string::npos);
    const std::string exchange = json{{"code", location.substr(prefix.size())}}.dump();
    const json issued = answer({"POST", "/api/v1/auth/mac/exchange", exchange, {}});
    EXPECT_TRUE(issued.at("expiresIn").is_number_integer());
    const httplib::Headers bearer = {
        {"authorization", "Bearer " + issued.at("token").get<std::string>()}};
    expectStatuses({
        {{"GET", "/api/v1/previews/pr-old", "", bearer}, 200},
        {{"POST", "/api/v1/auth/mac/exchange", exchange, {}}, 401},  // a code works once
        {{"POST", "/api/v1/auth/mac/exchange", R"({"code":"made-up"})", {}}, 401},
        {{"POST", "/api/v1/auth/mac/exchange", "{}", {}}, 400},
        {{"POST", "/api/v1/auth/mac/exchange", "code=x", {}}, 400},
        {{"GET", "/api/v1/auth/github?client=web", "", {}}, 400},
        {{"POST", "/api/v1/auth/logout", "", bearer}, 204},
        {{"GET", "/api/v1/previews/pr-old", "", bearer}, 401},
    });
}

TEST_F(PreviewServiceTest, ArmedFaultsHoldUntilClearedAndMalformedOnesAreRefused) {
    service.emplace(builds.path(), std::vector<std::string>{"--token", kToken});
    expectStatuses({
        {{"POST", "/dev/faults", R"({"route":"manifest","fault":"drop"})"}, 400},
        {{"POST", "/dev/faults", R"({"route":"manifest","fault":"status","status":200})"}, 400},
        {{"POST", "/dev/faults", R"({"route":"list","fault":"stall"})"}, 400},
        {{"POST", "/dev/faults", R"({"route":"manifest","fault":"status","status":"503"})"}, 400},
        {{"POST", "/dev/faults", "[]"}, 400},
        {{"POST", "/dev/faults", R"({"route":"manifest","fault":"status","status":503})"}, 204},
        {{"GET", "/api/v1/previews/pr-old"}, 503},
        {{"POST", "/api/v1/previews/pr-old/download"}, 200},  // other routes are untouched
        {{"DELETE", "/dev/faults"}, 204},
        {{"GET", "/api/v1/previews/pr-old"}, 200},
    });
}

TEST_F(PreviewServiceTest, WithoutSignInServesRequestsWithoutAToken) {
    service.emplace(builds.path(), std::vector<std::string>{"--no-sign-in"});
    expectStatuses({{{"GET", "/api/v1/previews/pr-old", "", {}}, 200},
                    {{"POST", "/api/v1/previews/pr-old/download", "", {}}, 200}});
}

// The demo build must pass every check the launcher makes before the simulator: its digest,
// the archive scan and unpacking, and the bundle identifier its manifest names.
TEST(DemoBuildTest, PassesTheLaunchersChecksAgainstItsOwnManifest) {
    const testing::TemporaryDirectory builds;
    ProcessRunner().runChecked(
        ToolCommand{DevServiceProcess::program(),
                    {"make-demo-build", builds.path().string(), "--preview-id", "pr-42"}},
        std::stop_token());

    const auto folder = builds.path() / "pr-42";
    std::ifstream manifestFile(folder / "manifest.json");
    const auto manifest = nlohmann::json::parse(manifestFile);
    EXPECT_EQ(manifest.at("previewId"), "pr-42");
    EXPECT_EQ(manifest.at("status"), "ready");
    EXPECT_EQ(manifest.at("platform"), "iphonesimulator");
    EXPECT_EQ(manifest.at("artifactSize"), std::filesystem::file_size(folder / "artifact.zip"));

    const auto tools = DeveloperTools::forThisHost();
    const ArtifactSecurity security(ProcessRunner(), tools);
    EXPECT_NO_THROW(security.verify(folder / "artifact.zip",
                                    manifest.at("sha256").get<std::string>(), std::stop_token()));
    const auto app = security.extractSecurely(folder / "artifact.zip", builds.path() / "unpacked",
                                              std::stop_token());
    const auto metadata = AppInspector(ProcessRunner(), tools).inspect(app, std::stop_token());
    EXPECT_EQ(metadata.bundleIdentifier, manifest.at("bundleId"));
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
