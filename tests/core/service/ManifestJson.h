#pragma once

#include <nlohmann/json.hpp>

namespace quaylet::testing {

// A manifest the service could send for a ready simulator build, without the optional dates;
// each test changes what it aims at.
inline nlohmann::json manifestJson() {
    return nlohmann::json::parse(R"({
        "schemaVersion": 1, "previewId": "pv_1", "repository": "acme/app", "pullRequest": 42,
        "commitSha": "0123456789abcdef0123456789abcdef01234567", "branch": "feature/x",
        "scheme": "App", "configuration": "Debug", "status": "ready",
        "bundleId": "com.example.Demo", "displayName": "Demo", "minimumOSVersion": "17.0",
        "platform": "iphonesimulator", "architectures": ["arm64", "x86_64"],
        "xcodeVersion": "16.0", "artifactSize": 1048576, "createdAt": "2024-05-01T12:30:45.123Z",
        "sha256": "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})");
}

}  // namespace quaylet::testing
