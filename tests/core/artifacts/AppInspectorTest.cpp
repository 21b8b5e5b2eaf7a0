#include "core/artifacts/AppInspector.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/artifacts/InfoPlist.h"
#include "core/errors/QuayletError.h"
#include "fixtures/AppBundleBuilder.h"
#include "support/ScriptedTools.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;
using fixtures::AppBundleBuilder;
using fixtures::PlistFormat;

constexpr const char* kNotAnApp = "Choose a valid iOS Simulator build.";
constexpr const char* kMissingInformation =
    "This build is missing app information. Rebuild it in GitHub Actions, then try again.";
constexpr const char* kMissingIdentifier =
    "This build is missing an app identifier. Check the target settings, then rebuild it.";
constexpr const char* kMissingExecutableName =
    "This build is missing its executable name. Check the target settings, then rebuild it.";
constexpr const char* kIncomplete =
    "This build is incomplete and can’t run. Rebuild it in GitHub Actions, then try again.";
constexpr const char* kWrongPlatform =
    "This build doesn’t target iOS Simulator. Update the GitHub workflow, then rebuild it.";
constexpr const char* kNoMinimumVersion =
    "This build has no valid minimum iOS version. Check the target settings, then rebuild it.";
constexpr const char* kNoRunnableCode =
    "This build contains no code that can run in Simulator on this Mac.";

class AppInspectorTest : public ::testing::Test {
  protected:
    AppInspector inspectorPrinting(const std::string& lipoOutput) {
        lipo.add("lipo", "printf '" + lipoOutput + "'");
        return AppInspector(ProcessRunner(), lipo.tools());
    }

    testing::TemporaryDirectory scratch;
    testing::ScriptedTools lipo;
};

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const QuayletError& error) {
        return error.errorDescription();
    }
    return "(accepted)";
}

TEST_F(AppInspectorTest, ReadsWhatTheBundleDeclares) {
    const AppInspector inspector = inspectorPrinting("x86_64 arm64\\n");
    for (const PlistFormat format : {PlistFormat::xml, PlistFormat::binary}) {
        testing::TemporaryDirectory folder;
        AppBundleBuilder("My App.app")
            .plistFormat(format)
            .fixtureVersion("7")
            .writeInto(folder.path());
        EXPECT_EQ(inspector.inspect(folder.path() / "x" / ".." / "My App.app" / ".", {}),
                  (AppMetadata{folder.path() / "My App.app",
                               "com.example.Demo",
                               "My App",
                               "Demo",
                               {17, 0, 0},
                               {"x86_64", "arm64"},
                               "7"}));
    }
}

TEST_F(AppInspectorTest, FirstFailingCheckDecides) {
    const AppInspector inspector = inspectorPrinting("arm64\\n");
    const struct {
        const char* name;
        std::function<void(AppBundleBuilder&)> change;
        const char* message;
        std::string bundleName = "Demo.app";
    } cases[] = {
        {"extension is case-sensitive", [](auto&) {}, kNotAnApp, "Demo.APP"},
        {"no Info.plist", [](auto&) {}, kMissingInformation},
        {"identifier is a number",
         [](auto& app) { app.set("CFBundleIdentifier", std::int64_t{4}); }, kMissingIdentifier},
        {"identifier is empty", [](auto& app) { app.bundleIdentifier(""); }, kMissingIdentifier},
        {"executable name missing", [](auto& app) { app.remove("CFBundleExecutable"); },
         kMissingExecutableName},
        {"executable name leaves the bundle",
         [](auto& app) { app.set("CFBundleExecutable", std::string("../../bin/sh")); },
         kMissingExecutableName},
        {"executable not executable, later keys broken too",
         [](auto& app) { app.executablePermissions(0644).remove("MinimumOSVersion"); },
         kIncomplete},
        {"executable missing", [](auto& app) { app.withoutExecutable(); }, kIncomplete},
        {"device platform only", [](auto& app) { app.platforms({"iPhoneOS"}); }, kWrongPlatform},
        {"platforms missing", [](auto& app) { app.remove("CFBundleSupportedPlatforms"); },
         kWrongPlatform},
        {"platform in another case", [](auto& app) { app.platforms({"iphonesimulator"}); },
         kWrongPlatform},
        {"minimum version v17", [](auto& app) { app.minimumOSVersion("v17"); }, kNoMinimumVersion},
        {"minimum version empty", [](auto& app) { app.minimumOSVersion(""); }, kNoMinimumVersion},
        {"minimum version a number",
         [](auto& app) { app.set("MinimumOSVersion", std::int64_t{17}); }, kNoMinimumVersion},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        testing::TemporaryDirectory folder;
        AppBundleBuilder app(testCase.bundleName);
        testCase.change(app);
        const fs::path bundle = app.writeInto(folder.path());
        if (testCase.message == std::string_view(kMissingInformation)) {
            fs::remove(bundle / "Info.plist");
        }
        EXPECT_EQ(messageOf([&] { inspector.inspect(bundle, {}); }), testCase.message);
    }
    EXPECT_EQ(messageOf([&] { inspector.inspect(scratch.path() / "Missing.app", {}); }),
              kMissingInformation);
}

TEST_F(AppInspectorTest, ArchitecturesAndNamesFollowTheirRules) {
    const fs::path bundle = AppBundleBuilder()
                                .displayName("")
                                .set("CFBundleName", std::string("Demo"))
                                .set("QuayletFixtureVersion", std::int64_t{3})
                                .minimumOSVersion("17.2.1.9")
                                .writeInto(scratch.path());
    const AppMetadata metadata = inspectorPrinting("\\tarm64e\\n\\n i386 ").inspect(bundle, {});
    EXPECT_EQ(metadata.architectures, (std::vector<std::string>{"arm64e", "i386"}));
    EXPECT_EQ(metadata.displayName, "");
    EXPECT_EQ(metadata.fixtureVersion, std::nullopt);
    EXPECT_EQ(metadata.minimumOSVersion, (SemanticVersion{17, 2, 1}));
    EXPECT_EQ(messageOf([&] { inspectorPrinting(" \\n\\t").inspect(bundle, {}); }),
              kNoRunnableCode);

    testing::ScriptedTools failing;
    failing.add("lipo", "exit 1");
    EXPECT_EQ(
        messageOf([&] { AppInspector(ProcessRunner(), failing.tools()).inspect(bundle, {}); }),
        "A required Mac command failed. Open Diagnostics, then try again.");
}

TEST(InfoPlistTest, OnlyDictionariesOfTheRightTypesCount) {
    EXPECT_EQ(InfoPlist::parse(""), std::nullopt);
    EXPECT_EQ(InfoPlist::parse("not a property list"), std::nullopt);
    EXPECT_EQ(InfoPlist::parse("bplist00\xff\xff"), std::nullopt);
    EXPECT_EQ(InfoPlist::parse("<?xml version=\"1.0\"?><plist><array/></plist>"), std::nullopt);

    AppBundleBuilder app;
    app.set("CFBundleSupportedPlatforms", std::vector<std::string>{})
        .set("CFBundleDisplayName", true);
    const auto plist = InfoPlist::parse(app.infoPlistBytes());
    ASSERT_TRUE(plist.has_value());
    EXPECT_EQ(plist->displayName, std::nullopt);
    EXPECT_TRUE(plist->supportedPlatforms.empty());
    EXPECT_EQ(InfoPlist::parse(app.plistFormat(PlistFormat::binary).infoPlistBytes()), plist);
}

// A binary property list of one dictionary, {"CFBundleName": name}, written byte by byte with
// the name as UTF-16: the fixture library goes through C strings and cannot put a NUL inside
// one, and libplist itself cuts an ASCII string at its first NUL.
std::string binaryPlistNaming(const std::string& name) {
    const std::string key = "CFBundleName";
    std::string bytes = "bplist00";
    bytes += "\xD1\x01\x02";  // a dictionary: key is object 1, value object 2
    bytes += static_cast<char>(0x50 | key.size()) + key;
    bytes += static_cast<char>(0x60 | name.size());
    for (const char character : name) {
        bytes += std::string{'\0', character};  // big-endian UTF-16 code units
    }
    const auto tableOffset = static_cast<char>(bytes.size());
    bytes += std::string{8, 11, static_cast<char>(11 + 1 + key.size())};  // object offsets
    bytes += std::string(6, '\0') + "\x01\x01";  // offsets and references one byte each
    bytes += std::string(7, '\0') + "\x03";      // three objects
    bytes += std::string(8, '\0');               // the top object is the dictionary
    bytes += std::string(7, '\0') + tableOffset;
    return bytes;
}

// Found by fuzzing: libplist aborted the whole program on a UTF-16 string holding a NUL.
TEST(InfoPlistTest, StringsHoldingANulCountAsMissing) {
    const struct {
        std::string name;
        std::optional<std::string> read;
    } cases[] = {
        {"Demo", "Demo"},
        {std::string("De\0mo", 5), std::nullopt},
        {std::string("Demo\0", 5), std::nullopt},
    };
    for (const auto& [name, read] : cases) {
        const auto plist = InfoPlist::parse(binaryPlistNaming(name));
        ASSERT_TRUE(plist.has_value());
        EXPECT_EQ(plist->bundleName, read);
    }
}

}  // namespace
}  // namespace quaylet
