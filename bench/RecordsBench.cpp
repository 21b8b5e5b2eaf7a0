#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "core/service/PreviewRecords.h"

namespace {

using Json = nlohmann::json;

std::string manifestBody() {
    return Json{
        {"schemaVersion", 1},
        {"previewId", "pv_01HXYZ3K9Q7M2N4P5R6S8T0V1W"},
        {"repository", "acme/mobile-app"},
        {"pullRequest", 1842},
        {"commitSha", "9f2c4e7a1b3d5f60718293a4b5c6d7e8f9012345"},
        {"branch", "feature/onboarding-redesign"},
        {"scheme", "MobileApp"},
        {"configuration", "Debug"},
        {"status", "ready"},
        {"bundleId", "com.acme.mobileapp"},
        {"displayName", "Acme"},
        {"minimumOSVersion", "17.0"},
        {"platform", "iphonesimulator"},
        {"architectures", {"arm64", "x86_64"}},
        {"xcodeVersion", "15.4"},
        {"artifactSize", 48'213'907},
        {"sha256", "3b7e0f1a9c2d4e6f8a0b1c2d3e4f5a6b7c8d9e0f1a2b3c4d5e6f7a8b9c0d1e2f"},
        {"createdAt", "2024-05-01T12:30:45.123Z"},
        {"readyAt", "2024-05-01T12:41:02.870Z"},
        {"expiresAt", "2024-05-15T12:41:02+00:00"},
        {"uploader", {{"login", "octocat"}, {"id", 583231}}},
    }
        .dump();
}

std::string buildListBody(int count) {
    Json previews = Json::array();
    for (int index = 0; index < count; ++index) {
        previews.push_back({
            {"previewId", "pv_" + std::to_string(100000 + index)},
            {"repository", "acme/mobile-app"},
            {"pullRequest", 1800 + index},
            {"pullRequestTitle", index % 3 == 0 ? Json(nullptr) : Json("Improve onboarding flow")},
            {"branch", "feature/branch-" + std::to_string(index)},
            {"commitSha", "9f2c4e7a1b3d5f60718293a4b5c6d7e8f9012345"},
            {"displayName", "Acme"},
            {"minimumOSVersion", "17.0"},
            {"status", index % 5 == 0 ? "expired" : "ready"},
            {"createdAt", "2024-05-01T12:30:45.123Z"},
            {"readyAt", "2024-05-01T12:41:02Z"},
            {"expiresAt", "2024-05-15T12:41:02.5+02:00"},
        });
    }
    return Json{{"previews", previews}}.dump();
}

void decodeManifest(benchmark::State& state) {
    const std::string body = manifestBody();
    for (auto _ : state) {
        benchmark::DoNotOptimize(quaylet::PreviewManifest::decode(body));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(body.size()));
}
BENCHMARK(decodeManifest);

void decodeBuildList(benchmark::State& state) {
    const std::string body = buildListBody(60);
    for (auto _ : state) {
        benchmark::DoNotOptimize(quaylet::PreviewListResponse::decode(body));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(body.size()));
}
BENCHMARK(decodeBuildList);

}  // namespace
