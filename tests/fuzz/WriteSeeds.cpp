// Writes the seed corpus of every fuzz target, one folder per target named after it, from
// realistic inputs made here and by the fixture library: the corpora are never committed.
//
//     quaylet-fuzz-seeds <folder>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"
#include "hosttools/DeviceSet.h"
#include "hosttools/SimctlListing.h"

namespace {

using quaylet::fixtures::AppBundleBuilder;
using quaylet::fixtures::PlistFormat;
using quaylet::fixtures::ZipBuilder;
using quaylet::fixtures::ZipEntry;

// Every kind of value a key can hold: text, a list, a number and a flag.
AppBundleBuilder richBundle() {
    return AppBundleBuilder()
        .displayName("Acme \xE2\x80\x94 Preview")
        .set("CFBundleVersion", std::int64_t{42})
        .set("LSRequiresIPhoneOS", true);
}

std::vector<std::string> zipPreflightSeeds() {
    ZipBuilder mixed = ZipBuilder().addBundle(richBundle().plistFormat(PlistFormat::binary), "");
    mixed.add({.name = "Demo.app/Frameworks/", .mode = S_IFDIR | 0755})
        .add({.name = "Demo.app/Assets.car",
              .data = std::string(600, 'a'),
              .method = quaylet::fixtures::ZipMethod::stored,
              .dataDescriptor = true})
        .add(ZipBuilder::symlink("Demo.app/Frameworks/Current", "A"))
        .add({.name = "Demo.app/caf\xC3\xA9.txt",
              .unicodePath = "Demo.app/caf\xC3\xA9.txt",
              .localExtra = ZipBuilder::extraField(0x5455, "\x01UTC!"),
              .centralExtra = ZipBuilder::extraField(0x7875, "\x01\x04uid!\x04gid!")});
    return {
        ZipBuilder().addBundle(AppBundleBuilder(), "").bytes(),
        mixed.leadingJunk("#!/bin/sh\nexit 0\n").trailingJunk("comment").bytes(),
    };
}

// The executable comes after Info.plist among a bundle's files.
std::string executableOf(const AppBundleBuilder& bundle) {
    return bundle.files().back().contents;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: quaylet-fuzz-seeds <folder>\n";
        return 2;
    }
    const std::map<std::string, std::vector<std::string>> corpora{
        {"fuzz-preview-records",
         {R"({"schemaVersion": 1, "previewId": "pv_01HZX3Q", "repository": "acme/ios-app",
              "pullRequest": 1287, "branch": "feature/sign-in", "commitSha": "9f2c1e4b",
              "scheme": "AcmeApp", "configuration": "Debug", "status": "ready",
              "bundleId": "com.acme.ios-app", "displayName": "Acme", "minimumOSVersion": "17.0",
              "platform": "iphonesimulator", "architectures": ["arm64", "x86_64"],
              "xcodeVersion": "15.3", "artifactSize": 48213377, "sha256": "3a7bd3e2",
              "createdAt": "2024-05-01T12:30:45.123Z", "readyAt": "2024-05-01T12:35:00Z",
              "expiresAt": "2024-05-08T12:35:00+02:00"})",
          R"({"previews": [{"previewId": "pv_7", "repository": "acme/ios-app",
              "pullRequest": 7, "pullRequestTitle": null, "branch": "login",
              "commitSha": "abc1234", "displayName": "Acme", "minimumOSVersion": "16.4",
              "status": "failed", "createdAt": "2024-05-01T12:30:45Z", "readyAt": null,
              "expiresAt": "2024-05-01T23:59:59.999999-05:30"}]})",
          R"({"url": "https://downloads.example.com/a.zip", "expiresAt": "2024-05-01T12:40:00Z",
              "direct": true})",
          R"({"token": "qlt_4b1d0c2e", "expiresIn": 2592000})"}},
        {"fuzz-simulator-listing",
         {quaylet::hosttools::simctlListing(quaylet::hosttools::DeviceSet::seeded(), "/Users/dev")
              .dump()}},
        {"fuzz-semantic-version",
         {"17.0", "17.4.1", "16", "-1.2.3", "+3.x.7", "9223372036854775807.0.1", "1..2", "v1",
          "15.0-beta", " 17.0"}},
        {"fuzz-info-plist",
         {richBundle().infoPlistBytes(),
          richBundle().plistFormat(PlistFormat::binary).infoPlistBytes()}},
        {"fuzz-listing-lines",
         {"Demo.app/\nDemo.app/Info.plist\nDemo.app/Demo\n",
          "Demo.app/a\xC2\x85"
          "Demo.app/b\xE2\x80\xA8"
          "Demo.app/c\xE2\x80\xA9"
          "Demo.app/d\v\f\r\n\xFF\xFE broken"}},
        {"fuzz-zip-preflight", zipPreflightSeeds()},
        {"fuzz-executable-architectures",
         {executableOf(AppBundleBuilder()),
          executableOf(AppBundleBuilder().machOExecutable({"arm64", "x86_64"})),
          executableOf(AppBundleBuilder().elfExecutableForHost())}},
        {"fuzz-incoming-link",
         {"quaylet://preview/pv_01HZX3Q", "QUAYLET://Preview/pv_1/extra?ignored=1#frag",
          "quaylet://preview/%2E%2E/pv", "quaylet://preview/a%2Fb%00c",
          "quaylet://auth?code=4b1d0c2e&state=xyz", "quaylet://auth?state=1&code=&code=second",
          "quaylet://user:pw@auth:80?code=%E2%82%AC", "https://example.com/preview/pv_1"}},
    };
    for (const auto& [target, seeds] : corpora) {
        const std::filesystem::path folder = std::filesystem::path(argv[1]) / target;
        std::filesystem::create_directories(folder);
        for (std::size_t index = 0; index < seeds.size(); ++index) {
            std::ofstream(folder / ("seed-" + std::to_string(index)), std::ios::binary)
                << seeds[index];
        }
    }
    return 0;
}
