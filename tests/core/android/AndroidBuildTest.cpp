#include "core/android/AndroidBuild.h"

#include <gtest/gtest.h>

#include "core/artifacts/BuildRefusal.h"
#include "core/errors/QuayletError.h"
#include "core/service/BuildPlatform.h"
#include "core/service/ServiceRecords.h"

namespace quaylet {
namespace {

PreviewManifest manifestFor(std::string platform, std::string minimum = "24",
                            std::vector<std::string> architectures = {}) {
    nlohmann::json json = testing::manifestJson();
    json["bundleId"] = "com.example.demo";
    json["platform"] = platform;
    json["minimumOSVersion"] = minimum;
    json["architectures"] = architectures;
    return PreviewManifest::decode(json.dump());
}

TEST(AndroidBuildTest, OnlyTheExactPlatformDescribesAnAndroidBuild) {
    EXPECT_EQ(AndroidBuild::describedBy(manifestFor("android", "21", {"arm64-v8a"})),
              (AndroidBuild{"com.example.demo", 21, {"arm64-v8a"}}));
    EXPECT_EQ(archiveFileName(BuildPlatform::android), "artifact.apk");
    for (const char* other : {"Android", "android ", "iphonesimulator", "iphoneos", ""}) {
        EXPECT_EQ(AndroidBuild::describedBy(manifestFor(other)), std::nullopt) << other;
    }
    for (const char* minimum : {"24.0", "+24", " 24", "", "Tiramisu", "99999999999"}) {
        try {
            AndroidBuild::describedBy(manifestFor("android", minimum));
            ADD_FAILURE() << minimum;
        } catch (const QuayletError& error) {
            EXPECT_STREQ(error.what(), kNoMinimumAPILevelMessage) << minimum;
        }
    }
}

TEST(AndroidBuildTest, TheDownloadMustBeTheNamedApp) {
    const AndroidBuild build = *AndroidBuild::describedBy(manifestFor("android"));
    EXPECT_NO_THROW(build.requireSameApp({.packageName = "com.example.demo"}));
    for (const char* other : {"com.example.Demo", "com.example.demo.debug", ""}) {
        EXPECT_THROW(build.requireSameApp({.packageName = other}), QuayletError) << other;
    }
}

}  // namespace
}  // namespace quaylet
