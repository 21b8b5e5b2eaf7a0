#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "core/errors/DecodingError.h"

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

// The decoding fails as kind at keyPath, and its sentence names the key path.
inline void expectFailure(const std::function<void()>& decode, DecodingError::Kind kind,
                          const std::string& keyPath) {
    try {
        decode();
        ADD_FAILURE() << "decoding succeeded";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), kind);
        EXPECT_EQ(error.keyPath(), keyPath);
        EXPECT_NE(std::string(error.what()).find(keyPath), std::string::npos) << error.what();
    }
}

}  // namespace quaylet::testing
