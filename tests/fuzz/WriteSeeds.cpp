// Writes the seed corpus of every fuzz target, one folder per target named after it, from
// realistic inputs made here and by the fixture library: the corpora are never committed.
//
//     quaylet-fuzz-seeds <folder>
#include <cstdlib>
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
using quaylet::fixtures::BundleFile;
using quaylet::fixtures::PlistFormat;
using quaylet::fixtures::ZipBuilder;
using quaylet::fixtures::ZipEntry;
using quaylet::fixtures::ZipMethod;

json manifest() {
    return json{
        {"schemaVersion", 1},
        {"previewId", "pv_01HZX3Q"},
        {"repository", "acme/ios-app"},
        {"pullRequest", 1287},
        {"commitSha", "9f2c1e4b7a0d3c5e8f1a2b3c4d5e6f708192a3b4"},
        {"branch", "feature/sign-in"},
        {"scheme", "AcmeApp"},
        {"configuration", "Debug"},
        {"status", "ready"},
        {"bundleId", "com.acme.ios-app"},
        {"displayName", "Acme"},
        {"minimumOSVersion", "17.0"},
        {"platform", "iphonesimulator"},
        {"architectures", {"arm64", "x86_64"}},
        {"xcodeVersion", "15.3"},
        {"artifactSize", 48213377},
        {"sha256", "3a7bd3e2360a3d29eea436fcfb7e44c735d117c42d1c1835420b6b9942dd4f1b"},
        {"createdAt", "2024-05-01T12:30:45.123Z"},
        {"readyAt", "2024-05-01T12:35:00Z"},
        {"expiresAt", "2024-05-08T12:35:00+02:00"},
    };
}

json summary(std::string status, json title) {
    return json{
        {"previewId", "pv_7"},
        {"repository", "acme/ios-app"},
        {"pullRequest", 7},
        {"pullRequestTitle", std::move(title)},
        {"branch", "login"},
        {"commitSha", "abc1234"},
        {"displayName", "Acme"},
        {"minimumOSVersion", "16.4"},
        {"status", std::move(status)},
        {"createdAt", "2024-05-01T12:30:45Z"},
        {"readyAt", nullptr},
        {"expiresAt", "2024-05-01T23:59:59.999999-05:30"},
    };
}

std::vector<std::string> previewRecordSeeds() {
    json pending = manifest();
    pending["status"] = "uploading";
    pending["readyAt"] = nullptr;
    pending.erase("expiresAt");
    return {
        manifest().dump(),
        manifest().dump(2),
        pending.dump(),
        json{{"previews", {summary("ready", "Sign in with GitHub"), summary("failed", nullptr)}}}
            .dump(),
        json{{"previews", json::array()}}.dump(),
        json{{"url", "https://downloads.example.com/a/artifact.zip?sig=abc%2Fdef"},
             {"expiresAt", "2024-05-01T12:40:00Z"},
             {"direct", true}}
            .dump(),
        json{{"token", "qlt_4b1d0c2e"}, {"expiresIn", 2592000}}.dump(),
        json{{"token", "qlt_4b1d0c2e"}, {"expiresIn", 3.0e3}}.dump(),
        "2024-02-29T23:59:59.999999999+14:00",
        "1970-01-01T00:00:00Z",
    };
}

std::vector<std::string> simulatorListingSeeds() {
    const auto home = std::filesystem::path("/Users/dev/Library/Developer/CoreSimulator");
    const auto listing =
        quaylet::hosttools::simctlListing(quaylet::hosttools::DeviceSet::seeded(), home);
    const json minimal{
        {"devices",
         {{"com.apple.CoreSimulator.SimRuntime.iOS-17-4",
           {{{"udid", "5B8A1C2D-0E3F-4A5B-8C6D-7E8F9A0B1C2D"},
             {"name", "iPhone 15"},
             {"state", "Booted"},
             {"isAvailable", true}}}}}},
        {"runtimes",
         {{{"identifier", "com.apple.CoreSimulator.SimRuntime.iOS-17-4"},
           {"name", "iOS 17.4"},
           {"version", "17.4"},
           {"isAvailable", true},
           {"platform", "iOS"}},
          {{"identifier", "com.apple.CoreSimulator.SimRuntime.iOS-17-4"},
           {"name", "iOS 17.4"},
           {"version", "17.4.1"},
           {"isAvailable", false},
           {"platform", nullptr}}}},
    };
    return {listing.dump(), minimal.dump()};
}

std::vector<std::string> semanticVersionSeeds() {
    return {"17.0", "17.4.1", "16",        "-1.2.3", "+3.x.7", "9223372036854775807.0.1",
            "1..2", "v1",     "15.0-beta", " 17.0"};
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
        seeds.push_back(AppBundleBuilder().plistFormat(format).infoPlistBytes());
        seeds.push_back(richBundle().plistFormat(format).infoPlistBytes());
        seeds.push_back(AppBundleBuilder()
                            .plistFormat(format)
                            .set("CFBundleIdentifier", std::int64_t{7})
                            .remove("MinimumOSVersion")
                            .infoPlistBytes());
    }
    return seeds;
}

std::vector<std::string> listingLinesSeeds() {
    return {
        "Demo.app/\nDemo.app/Info.plist\nDemo.app/Demo\n",
        "Demo.app/\r\nDemo.app/Info.plist\r\n\r\nDemo.app/Base.lproj/Main.storyboardc/\r\n",
        "Demo.app/a\xC2\x85"
        "Demo.app/b\xE2\x80\xA8"
        "Demo.app/c\xE2\x80\xA9"
        "Demo.app/d\v\f\r",
        "Demo.app/caf\xC3\xA9.png\nDemo.app/\xFF\xFE broken\n",
    };
}

ZipBuilder bundleArchive(const AppBundleBuilder& bundle) {
    ZipBuilder archive;
    archive.addDirectory("Demo.app/");
    for (const BundleFile& file : bundle.files()) {
        archive.addFile(file.path, file.contents, file.permissions);
    }
    return archive;
}

std::vector<std::string> zipPreflightSeeds() {
    ZipBuilder mixed = bundleArchive(richBundle().plistFormat(PlistFormat::binary));
    mixed.add(ZipEntry{.name = "Demo.app/Assets.car",
                       .data = std::string(600, 'a'),
                       .method = ZipMethod::stored,
                       .dataDescriptor = true});
    mixed.addSymlink("Demo.app/Frameworks/Current", "A");
    mixed.add(ZipEntry{.name = "Demo.app/caf\xC3\xA9.txt",
                       .data = "menu",
                       .unicodePath = "Demo.app/caf\xC3\xA9.txt",
                       .localExtra = ZipBuilder::extraField(0x5455, "\x01UTC!"),
                       .centralExtra = ZipBuilder::extraField(0x7875, "\x01\x04uid!\x04gid!")});
    ZipBuilder hostile;
    hostile.add(ZipEntry{.name = "Demo.app/Info.plist", .data = "x", .localName = "../evil"});
    hostile.add(ZipEntry{
        .name = "Demo.app/outer", .data = std::string(200, 'o'), .method = ZipMethod::stored});
    hostile.add(ZipEntry{.name = "Demo.app/inner", .data = "i", .nestedInPrevious = true});
    hostile.addSymlink("Demo.app/escape", "../../etc");
    std::string deep = "Demo.app/";
    for (int level = 0; level < 70; ++level) {
        deep += "d/";
    }
    hostile.add(ZipEntry{.name = deep + "f",
                         .data = "deep",
                         .localExtra = ZipBuilder::extraField(0x756e, "\xff\xa1")});
    return {
        bundleArchive(AppBundleBuilder()).bytes(),
        mixed.leadingJunk("#!/bin/sh\nexit 0\n").trailingJunk("comment").bytes(),
        hostile.bytes(),
        ZipBuilder()
            .add(ZipEntry{.name = "Demo.app/big", .data = "tiny", .declaredSize = 0xFFFFFFF0u})
            .bytes(),
    };
}

std::string executableBytes(AppBundleBuilder bundle) {
    for (const BundleFile& file : bundle.files()) {
        if (file.path == "Demo.app/Demo") {
            return file.contents;
        }
    }
    std::cerr << "quaylet-fuzz-seeds: the bundle has no executable\n";
    std::exit(1);
}

std::vector<std::string> executableArchitecturesSeeds() {
    return {
        executableBytes(AppBundleBuilder().machOExecutable({"arm64"})),
        executableBytes(AppBundleBuilder().machOExecutable({"i386"})),
        executableBytes(AppBundleBuilder().machOExecutable({"arm64", "x86_64"})),
        executableBytes(AppBundleBuilder().machOExecutable({"armv7", "i386", "arm64", "x86_64"})),
        executableBytes(AppBundleBuilder().elfExecutableForHost()),
    };
}

std::vector<std::string> incomingLinkSeeds() {
    return {
        "quaylet://preview/pv_01HZX3Q",
        "QUAYLET://Preview/pv_1/extra?ignored=1#frag",
        "quaylet://preview/%2E%2E/pv",
        "quaylet://preview/a%2Fb%00c",
        "quaylet://auth?code=4b1d0c2e&state=xyz",
        "quaylet://auth?state=1&code=&code=second",
        "quaylet://user:pw@auth:80?code=%E2%82%AC",
        "https://example.com/preview/pv_1",
    };
}

void writeSeeds(const std::filesystem::path& root, const std::string& target,
                const std::vector<std::string>& seeds) {
    const std::filesystem::path folder = root / target;
    std::filesystem::create_directories(folder);
    for (std::size_t index = 0; index < seeds.size(); ++index) {
        std::ofstream(folder / ("seed-" + std::to_string(index)), std::ios::binary) << seeds[index];
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: quaylet-fuzz-seeds <folder>\n";
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const std::map<std::string, std::vector<std::string>> corpora{
        {"fuzz-preview-records", previewRecordSeeds()},
        {"fuzz-simulator-listing", simulatorListingSeeds()},
        {"fuzz-semantic-version", semanticVersionSeeds()},
        {"fuzz-info-plist", infoPlistSeeds()},
        {"fuzz-listing-lines", listingLinesSeeds()},
        {"fuzz-zip-preflight", zipPreflightSeeds()},
        {"fuzz-executable-architectures", executableArchitecturesSeeds()},
        {"fuzz-incoming-link", incomingLinkSeeds()},
    };
    for (const auto& [target, seeds] : corpora) {
        writeSeeds(root, target, seeds);
    }
    return 0;
}
