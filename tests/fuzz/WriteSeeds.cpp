// Writes the seed corpus of every fuzz target, one folder per target named after it, from
// realistic inputs made by the fixture library: the corpora are never committed. One seed
// holding each kind of input; the fuzzers and their dictionaries find the variants.
//
//     quaylet-fuzz-seeds <folder>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>

#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"

namespace {

using quaylet::fixtures::AppBundleBuilder;
using quaylet::fixtures::PlistFormat;
using quaylet::fixtures::ZipBuilder;

// A binary Info.plist with a value of every kind (text, list, number, flag), then a folder, a
// link, sizes after the data and harmless extra fields.
std::string zipSeed() {
    const AppBundleBuilder bundle = AppBundleBuilder()
                                        .set("CFBundleVersion", std::int64_t{42})
                                        .set("LSRequiresIPhoneOS", true)
                                        .plistFormat(PlistFormat::binary);
    return ZipBuilder()
        .addBundle(bundle, "")
        .add({.name = "Demo.app/Frameworks/", .mode = S_IFDIR | 0755})
        .add({.name = "Demo.app/Assets.car", .data = std::string(600, 'a'), .dataDescriptor = true})
        .add(ZipBuilder::symlink("Demo.app/Frameworks/Current", "A"))
        .add({.name = "Demo.app/caf\xC3\xA9.txt",
              .unicodePath = "Demo.app/caf\xC3\xA9.txt",
              .localExtra = ZipBuilder::extraField(0x5455, "\x01UTC!"),
              .centralExtra = ZipBuilder::extraField(0x7875, "\x01\x04uid!\x04gid!")})
        .bytes();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: quaylet-fuzz-seeds <folder>\n";
        return 2;
    }
    const std::pair<const char*, std::string> seeds[] = {
        {"fuzz-info-plist", AppBundleBuilder().set("LSRequiresIPhoneOS", true).infoPlistBytes()},
        {"fuzz-zip-preflight", zipSeed()},
    };
    for (const auto& [target, seed] : seeds) {
        const std::filesystem::path folder = std::filesystem::path(argv[1]) / target;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "seed-0", std::ios::binary) << seed;
    }
    return 0;
}
