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
        {"Info.plist damaged", [](auto&) {}, kMissingInformation, "Demo.app", "bplist00\xff\xff"},
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
        InfoPlist expected;
        expected.bundleName = read;
        EXPECT_EQ(InfoPlist::parse(binaryPlistNaming(name)), expected);
    }
}

}  // namespace
}  // namespace quaylet
