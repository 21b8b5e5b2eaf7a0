#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "core/process/ProcessRunner.h"
#include "support/DevServiceProcess.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using nlohmann::json;
using testing::DevServiceProcess;

// What the product relies on beyond the flows the command line tests drive: the newest builds
// first within the limit asked for, the bearer token and nothing else, no way out of the builds
// folder, and a launch event only when it is complete.
TEST(PreviewServiceTest, ListsNewestFirstAndRefusesWhatARealServiceWould) {
    const testing::TemporaryDirectory builds;
    for (const auto& [id, day] :
         {std::pair("pr-old", "01"), std::pair("pr-new", "03"), std::pair("pr-mid", "02")}) {
        std::filesystem::create_directory(builds.path() / id);
        std::ofstream(builds.path() / id / "manifest.json")
            << json{{"schemaVersion", 1},
                    {"previewId", id},
                    {"status", "ready"},
                    {"createdAt", "2024-05-" + std::string(day) + "T12:00:00Z"}};
    }
    const DevServiceProcess service(builds.path(), {"--token", "t"});
    httplib::Client http(service.baseURL());
    const httplib::Headers bearer = {{"authorization", "Bearer t"}};
    const auto listed = http.Get("/api/v1/previews?limit=2", bearer);
    ASSERT_TRUE(listed);
    json previewIds = json::array();
    for (const json& summary : json::parse(listed->body).at("previews")) {
        previewIds.push_back(summary.at("previewId"));
    }
    EXPECT_EQ(previewIds, (json{"pr-new", "pr-mid"}));

    const std::string events = "/api/v1/previews/pr-old/launch-events";
    const std::pair<httplib::Result, int> answers[] = {
        {http.Get("/api/v1/previews/pr-old"), 401},
        {http.Get("/api/v1/previews/pr-old", {{"authorization", "Bearer nope"}}), 401},
        {http.Get("/api/v1/previews/..%2Fpr-old", bearer), 404},
        {http.Post(events, bearer, R"({"stage":"running"})", "application/json"), 400},
        {http.Post(events, bearer, R"({"stage":"running","successful":true})", "application/json"),
         204},
    };
    for (const auto& [answer, status] : answers) {
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, status) << answer->body;
    }
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
