#include "core/service/BuildCache.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

class BuildCacheTest : public ::testing::Test {
  protected:
    // A build of one file of `bytes` bytes, launched that many hours ago (absent: never).
    fs::path addBuild(const std::string& preview, const std::string& digest, std::size_t bytes,
                      std::optional<int> launchedHoursAgo) {
        const fs::path directory = root.path() / preview / digest;
        fs::create_directories(directory);
        std::ofstream(directory / "artifact.zip") << std::string(bytes, 'x');
        if (launchedHoursAgo) {
            cache.markLaunched(directory);
            fs::last_write_time(
                directory / "last-launch",
                fs::file_time_type::clock::now() - std::chrono::hours(*launchedHoursAgo));
        }
        return directory;
    }

    std::vector<fs::path> remaining() const {
        std::vector<fs::path> directories;
        for (const CachedBuildUsage& build : cache.builds()) {
            directories.push_back(build.directory);
        }
        return directories;
    }

    testing::TemporaryDirectory root;
    BuildCache cache{root.path()};
};

TEST_F(BuildCacheTest, TrimRemovesTheLeastRecentlyLaunchedFirstAndRemovePreviewsTheirBuilds) {
    const fs::path never = addBuild("a", "1", 100'000, std::nullopt);
    const fs::path old = addBuild("b", "1", 100'000, 48);
    const fs::path recent = addBuild("b", "2", 100'000, 1);
    const fs::path kept = addBuild("c", "1", 300'000, 2);
    EXPECT_EQ(remaining(), (std::vector{never, old, kept, recent}));
    EXPECT_GE(cache.builds().back().allocatedBytes, 100'000u) << "counted from the disk";

    EXPECT_TRUE(cache.trim(0, kept).empty()) << "0 is no limit";
    const auto removed = cache.trim(200'000, kept);
    EXPECT_EQ(removed.size(), 3u);
    EXPECT_EQ(remaining(), std::vector{kept});
    EXPECT_FALSE(fs::exists(root.path() / "a")) << "an emptied preview folder goes too";

    addBuild("gone", "1", 10, std::nullopt);
    addBuild("gone", "2", 10, 1);
    cache.removePreviews({"gone", "unknown"});
    EXPECT_EQ(remaining(), std::vector{kept}) << "every build of a removed preview goes";
}

}  // namespace
}  // namespace quaylet
