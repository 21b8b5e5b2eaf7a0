#include "core/artifacts/AppInspector.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

// The path is standardised, the architectures are the words lipo prints whatever white space
// parts them, the name falls back to the folder's, and a fixture version that is no text counts
// as none.
TEST_F(AppInspectorTest, ReadsWhatTheBundleDeclares) {
    const fs::path bundle = AppBundleBuilder("My App.app")
                                .set("QuayletFixtureVersion", std::int64_t{3})
                                .writeInto(scratch.path());
    EXPECT_EQ(inspectorPrinting("\\tx86_64\\n\\n arm64 ").inspect(bundle / "x" / ".." / ".", {}),
              (AppMetadata{bundle,
                           "com.example.Demo",
                           "My App",
                           "Demo",
                           {17, 0, 0},
                           {"x86_64", "arm64"},
                           std::nullopt}));
    EXPECT_EQ(messageOf([&] { inspectorPrinting(" \\n\\t").inspect(bundle, {}); }),
              kNoRunnableCode);
    testing::ScriptedTools failing;
    failing.add("lipo", "exit 1");
    EXPECT_EQ(
        messageOf([&] { AppInspector(ProcessRunner(), failing.tools()).inspect(bundle, {}); }),
        "A required Mac command failed. Open Diagnostics, then try again.");
}

// A row's Info.plist bytes, when given, replace the builder's file.
TEST_F(AppInspectorTest, FirstFailingCheckDecides) {
    const AppInspector inspector = inspectorPrinting("arm64\\n");
    const struct {
        const char* name;
        std::function<void(AppBundleBuilder&)> change;
        const char* message;
        std::string bundleName = "Demo.app";
        std::optional<std::string> infoPlist = std::nullopt;
    } cases[] = {
        {"extension is case-sensitive", [](auto&) {}, kNotAnApp, "Demo.APP"},
        {"Info.plist empty", [](auto&) {}, kMissingInformation, "Demo.app", ""},
        {"Info.plist holds an array", [](auto&) {}, kMissingInformation, "Demo.app",
         "<?xml version=\"1.0\"?><plist><array/></plist>"},
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
        {"platform in another case", [](auto& app) { app.platforms({"iphonesimulator"}); },
         kWrongPlatform},
        {"minimum version v17", [](auto& app) { app.minimumOSVersion("v17"); }, kNoMinimumVersion},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        testing::TemporaryDirectory folder;
        AppBundleBuilder app(testCase.bundleName);
        testCase.change(app);
        const fs::path bundle = app.writeInto(folder.path());
        if (testCase.infoPlist) {
            std::ofstream(bundle / "Info.plist", std::ios::trunc) << *testCase.infoPlist;
        }
        EXPECT_EQ(messageOf([&] { inspector.inspect(bundle, {}); }), testCase.message);
    }
    EXPECT_EQ(messageOf([&] { inspector.inspect(scratch.path() / "Missing.app", {}); }),
              kMissingInformation);
}

// Found by fuzzing: libplist aborted the whole program on a UTF-16 string holding a NUL. A name
// holding a snowman is written as UTF-16; its code unit then becomes a NUL, inside and at the end.
TEST(InfoPlistTest, StringsHoldingANulCountAsMissing) {
    for (const std::string name : {"De\u2603mo", "Demo\u2603"}) {
        std::string bytes = AppBundleBuilder()
                                .set("CFBundleName", name)
                                .remove("CFBundleSupportedPlatforms")
                                .plistFormat(fixtures::PlistFormat::binary)
                                .infoPlistBytes();
        InfoPlist expected = InfoPlist::parse(bytes).value();
        EXPECT_EQ(expected.bundleName, name);
        bytes.replace(bytes.find("\x26\x03"), 2, std::string(2, '\0'));
        expected.bundleName = std::nullopt;
        EXPECT_EQ(InfoPlist::parse(bytes), expected) << name;
    }
}

}  // namespace
}  // namespace quaylet
