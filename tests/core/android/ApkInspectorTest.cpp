#include "core/android/ApkInspector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "core/artifacts/ArchiveRefusal.h"
#include "core/artifacts/BuildRefusal.h"
#include "core/artifacts/ZipPreflight.h"
#include "core/errors/QuayletError.h"
#include "fixtures/ApkBuilder.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using fixtures::ApkBuilder;
using fixtures::ZipBuilder;

TEST(ApkInspectorTest, ReadsTheManifestAndNativeAbisInProcess) {
    const testing::TemporaryDirectory folder;
    const auto apk = folder.path() / "app.apk";
    ApkBuilder{.nativeLibraries = {"lib/x86_64/libdemo.so", "lib/arm64-v8a/libdemo.so",
                                   "lib/x86_64/libother.so", "lib/x86/sub/libdeep.so",
                                   "lib/mips/notes.txt"}}
        .writeTo(apk);
    EXPECT_EQ(ApkInspector().inspect(apk, {}),
              (ApkMetadata{apk, "com.example.demo", 1, "1.0", 24, {"arm64-v8a", "x86_64"}}));
    ApkBuilder{.versionCode = {}, .minSdkVersion = {}}.writeTo(apk);
    const ApkMetadata defaults = ApkInspector().inspect(apk, {});
    EXPECT_EQ(std::pair(defaults.versionCode, defaults.minSdkVersion),
              std::pair(std::int64_t{0}, 1));

    // What the packaging tools add passes for a package alone, never for an archive to unpack:
    // the alignment padding, the signing block, and both.
    const std::string signingBlock = ApkBuilder::validSigningBlock();
    for (const std::string& release : {ApkBuilder{.signingBlock = ""}.zip().bytes(),
                                       ApkBuilder().zip().beforeDirectory(signingBlock).bytes(),
                                       ApkBuilder{.signingBlock = signingBlock}.zip().bytes()}) {
        std::ofstream(apk, std::ios::binary) << release;
        EXPECT_EQ(ApkInspector().inspect(apk, {}).packageName, "com.example.demo");
        EXPECT_THROW(
            preflightZipArchive(
                {reinterpret_cast<const std::uint8_t*>(release.data()), release.size()}, {}),
            QuayletError);
    }
}

std::string spoilt(std::string bytes, std::size_t at, char value) {
    bytes[at] = value;
    return bytes;
}

TEST(ApkInspectorTest, RefusesBuildsThatDoNotSayWhatTheyAre) {
    const testing::TemporaryDirectory folder;
    const auto apk = folder.path() / "app.apk";
    const std::pair<ZipBuilder, std::string_view> cases[] = {
        {ZipBuilder().addFile("classes.dex", "dex"), kMissingInformationMessage},
        {ZipBuilder().addFile("AndroidManifest.xml", "<manifest/>"), kMissingInformationMessage},
        {ApkBuilder{.packageName = {}}.zip(), kMissingIdentifierMessage},
        {ApkBuilder{.packageName = ""}.zip(), kMissingIdentifierMessage},
        {ApkBuilder{.minSdkVersion = "Tiramisu"}.zip(), kNoMinimumAPILevelMessage},
        {ApkBuilder{.minSdkVersion = -3}.zip(), kNoMinimumAPILevelMessage},
        {ApkBuilder().zip().addFile("../escape", "x"), kSecurityCheckMessage},
        {ApkBuilder{.signingBlock = spoilt(ApkBuilder::validSigningBlock(), 51, '3')}.zip(),
         kSecurityCheckMessage},
        {ApkBuilder{.signingBlock = spoilt(ApkBuilder::validSigningBlock(), 8, '\x0d')}.zip(),
         kSecurityCheckMessage},
        {ApkBuilder().zip().add({.name = "x", .localExtra = std::string("\0\0\1", 3)}),
         kSecurityCheckMessage},
        {ZipBuilder(), kEmptyBuildMessage},
    };
    for (const auto& [zip, message] : cases) {
        zip.writeTo(apk);
        EXPECT_THAT([&] { ApkInspector().inspect(apk, {}); },
                    ::testing::ThrowsMessage<QuayletError>(::testing::StrEq(message)));
    }
}

}  // namespace
}  // namespace quaylet
