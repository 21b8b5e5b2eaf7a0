// Writes the seed corpus of every fuzz target, one folder per target named after it, from
// realistic inputs made by the fixture library: the corpora are never committed. One ordinary
// seed each, two for the archive scan (an app and a package); the fuzzers and their
// dictionaries find the variants.
//
//     quaylet-fuzz-seeds <folder>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>

#include "fixtures/ApkBuilder.h"
#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"

int main(int argc, char** argv) {
    using quaylet::fixtures::ZipBuilder;
    if (argc != 2) {
        std::cerr << "usage: quaylet-fuzz-seeds <folder>\n";
        return 2;
    }
    const quaylet::fixtures::AppBundleBuilder bundle;
    // A link and sizes after the data, which the scan reads in ways of their own.
    const std::string archive =
        ZipBuilder()
            .addBundle(bundle, "")
            .add(ZipBuilder::symlink("Demo.app/Current", "Info.plist"))
            .add({.name = "Demo.app/Assets.car", .data = "assets", .dataDescriptor = true})
            .bytes();
    const std::pair<const char*, std::string> seeds[] = {
        {"fuzz-info-plist", bundle.infoPlistBytes()},
        {"fuzz-zip-preflight", archive},
        {"fuzz-android-manifest", quaylet::fixtures::ApkBuilder().manifestBytes()},
        // A package as the packaging tools leave it: aligned, with a signing block.
        {"fuzz-zip-preflight",
         quaylet::fixtures::ApkBuilder{.signingBlock =
                                           quaylet::fixtures::ApkBuilder::validSigningBlock()}
             .zip()
             .bytes()},
    };
    for (std::size_t index = 0; index < std::size(seeds); ++index) {
        const auto& [target, seed] = seeds[index];
        const std::filesystem::path folder = std::filesystem::path(argv[1]) / target;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / ("seed-" + std::to_string(index)), std::ios::binary) << seed;
    }
    return 0;
}
