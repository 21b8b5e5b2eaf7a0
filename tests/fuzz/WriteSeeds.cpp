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

#include <nlohmann/json.hpp>

#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"
#include "hosttools/DeviceSet.h"
#include "hosttools/SimctlListing.h"

namespace {

using nlohmann::json;
using quaylet::fixtures::AppBundleBuilder;
using quaylet::fixtures::PlistFormat;
using quaylet::fixtures::ZipBuilder;
using quaylet::fixtures::ZipEntry;

std::vector<std::string> previewRecordSeeds() {
    const json manifest = json::parse(R"({"schemaVersion": 1, "previewId": "pv_01HZX3Q",
        "repository": "acme/ios-app", "pullRequest": 1287, "branch": "feature/sign-in",
        "commitSha": "9f2c1e4b7a0d3c5e8f1a2b3c4d5e6f708192a3b4", "scheme": "AcmeApp",
        "configuration": "Debug", "status": "ready", "bundleId": "com.acme.ios-app",
        "displayName": "Acme", "minimumOSVersion": "17.0", "platform": "iphonesimulator",
        "architectures": ["arm64", "x86_64"], "xcodeVersion": "15.3", "artifactSize": 48213377,
        "sha256": "3a7bd3e2360a3d29eea436fcfb7e44c735d117c42d1c1835420b6b9942dd4f1b",
        "createdAt": "2024-05-01T12:30:45.123Z", "readyAt": "2024-05-01T12:35:00Z",
        "expiresAt": "2024-05-08T12:35:00+02:00"})");
    json list = json::parse(R"({"previews": [{"previewId": "pv_7", "repository": "acme/ios-app",
        "pullRequest": 7, "pullRequestTitle": "Sign in with GitHub", "branch": "login",
        "commitSha": "abc1234", "displayName": "Acme", "minimumOSVersion": "16.4",
        "status": "ready", "createdAt": "2024-05-01T12:30:45Z", "readyAt": null,
        "expiresAt": "2024-05-01T23:59:59.999999-05:30"}]})");
    json failed = list["previews"][0];
    failed["status"] = "failed";
    failed["pullRequestTitle"] = nullptr;
    list["previews"].push_back(failed);
    return {
        manifest.dump(2),
        list.dump(),
        R"({"previews": []})",
        R"({"url": "https://downloads.example.com/a/artifact.zip?sig=abc%2Fdef",
            "expiresAt": "2024-05-01T12:40:00Z", "direct": true})",
        R"({"token": "qlt_4b1d0c2e", "expiresIn": 2592000})",
        R"({"token": "qlt_4b1d0c2e", "expiresIn": 3.0e3})",
        "2024-02-29T23:59:59.999999999+14:00",
        "1970-01-01T00:00:00Z",
    };
}

std::vector<std::string> simulatorListingSeeds() {
    const auto home = std::filesystem::path("/Users/dev/Library/Developer/CoreSimulator");
    return {
        quaylet::hosttools::simctlListing(quaylet::hosttools::DeviceSet::seeded(), home).dump(),
        R"({"devices": {"com.apple.CoreSimulator.SimRuntime.iOS-17-4": [{"name": "iPhone 15",
            "udid": "5B8A1C2D-0E3F-4A5B-8C6D-7E8F9A0B1C2D", "state": "Booted",
            "isAvailable": true}]}, "runtimes": [
          {"identifier": "com.apple.CoreSimulator.SimRuntime.iOS-17-4", "name": "iOS 17.4",
           "version": "17.4", "isAvailable": true, "platform": "iOS"},
          {"identifier": "com.apple.CoreSimulator.SimRuntime.iOS-17-4", "name": "iOS 17.4",
           "version": "17.4.1", "isAvailable": false, "platform": null}]})",
    };
}

AppBundleBuilder richBundle() {
    AppBundleBuilder bundle;
    bundle.displayName("Acme \xE2\x80\x94 Preview")
        .platforms({"iPhoneSimulator", "iPhoneOS"})
        .set("CFBundleName", std::string("Acme"))
        .set("UIRequiredDeviceCapabilities", std::vector<std::string>{"arm64"})
        .set("CFBundleVersion", std::int64_t{42})
        .set("LSRequiresIPhoneOS", true);
    return bundle;
}

std::vector<std::string> infoPlistSeeds() {
    std::vector<std::string> seeds;
    for (const PlistFormat format : {PlistFormat::xml, PlistFormat::binary}) {
        seeds.push_back(richBundle().plistFormat(format).infoPlistBytes());
        seeds.push_back(AppBundleBuilder()
                            .plistFormat(format)
                            .set("CFBundleIdentifier", std::int64_t{7})
                            .remove("MinimumOSVersion")
                            .infoPlistBytes());
    }
    return seeds;
}

std::vector<std::string> zipPreflightSeeds() {
    ZipBuilder mixed = ZipBuilder().addBundle(richBundle().plistFormat(PlistFormat::binary), "");
    mixed.add({.name = "Demo.app/Frameworks/", .mode = S_IFDIR | 0755})
        .add({.name = "Demo.app/Assets.car",
              .data = std::string(600, 'a'),
              .method = quaylet::fixtures::ZipMethod::stored,
              .dataDescriptor = true})
        .addSymlink("Demo.app/Frameworks/Current", "A")
        .add({.name = "Demo.app/caf\xC3\xA9.txt",
              .unicodePath = "Demo.app/caf\xC3\xA9.txt",
              .localExtra = ZipBuilder::extraField(0x5455, "\x01UTC!"),
              .centralExtra = ZipBuilder::extraField(0x7875, "\x01\x04uid!\x04gid!")});
    std::string deep = "Demo.app/";
    for (int level = 0; level < 70; ++level) {
        deep += "d/";
    }
    const ZipBuilder hostile =
        ZipBuilder()
            .add({.name = "Demo.app/Info.plist", .localName = "../evil"})
            .add({.name = "Demo.app/outer", .method = quaylet::fixtures::ZipMethod::stored})
            .add({.name = "Demo.app/inner", .data = "i", .nestedInPrevious = true})
            .addSymlink("Demo.app/escape", "../../etc")
            .add({.name = deep + "f", .localExtra = ZipBuilder::extraField(0x756e, "\xff\xa1")});
    return {
        ZipBuilder().addBundle(AppBundleBuilder(), "").bytes(),
        mixed.leadingJunk("#!/bin/sh\nexit 0\n").trailingJunk("comment").bytes(),
        hostile.bytes(),
        ZipBuilder()
            .add({.name = "Demo.app/big", .data = "tiny", .declaredSize = 0xFFFFFFF0u})
            .bytes(),
    };
}

// The executable comes after Info.plist among a bundle's files.
std::vector<std::string> executableArchitecturesSeeds() {
    std::vector<std::string> seeds;
    for (const std::vector<std::string>& architectures : {std::vector<std::string>{"arm64"},
                                                          {"i386"},
                                                          {"arm64", "x86_64"},
                                                          {"armv7", "i386", "arm64", "x86_64"}}) {
        seeds.push_back(AppBundleBuilder().machOExecutable(architectures).files().back().contents);
    }
    seeds.push_back(AppBundleBuilder().elfExecutableForHost().files().back().contents);
    return seeds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: quaylet-fuzz-seeds <folder>\n";
        return 2;
    }
    const std::map<std::string, std::vector<std::string>> corpora{
        {"fuzz-preview-records", previewRecordSeeds()},
        {"fuzz-simulator-listing", simulatorListingSeeds()},
        {"fuzz-semantic-version",
         {"17.0", "17.4.1", "16", "-1.2.3", "+3.x.7", "9223372036854775807.0.1", "1..2", "v1",
          "15.0-beta", " 17.0"}},
        {"fuzz-info-plist", infoPlistSeeds()},
        {"fuzz-listing-lines",
         {"Demo.app/\nDemo.app/Info.plist\nDemo.app/Demo\n",
          "Demo.app/\r\nDemo.app/Info.plist\r\n\r\nDemo.app/Base.lproj/Main.storyboardc/\r\n",
          "Demo.app/a\xC2\x85"
          "Demo.app/b\xE2\x80\xA8"
          "Demo.app/c\xE2\x80\xA9"
          "Demo.app/d\v\f\r",
          "Demo.app/caf\xC3\xA9.png\nDemo.app/\xFF\xFE broken\n"}},
        {"fuzz-zip-preflight", zipPreflightSeeds()},
        {"fuzz-executable-architectures", executableArchitecturesSeeds()},
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
