// The cache's disk misbehaving: an archive that changed since it was verified, a cache that
// cannot be written, and a disk that fills up part-way.
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "LaunchRoad.h"

namespace quaylet::testing {
namespace {

namespace fs = std::filesystem;

const std::string kCommandFailed =
    "A required Mac command failed. Open Diagnostics, then try again.";

using DiskFaultTest = LaunchRoadTest;

TEST_F(DiskFaultTest, ACachedArchiveChangedBetweenLaunchesIsDownloadedAgain) {
    ASSERT_EQ(launch().message(), std::nullopt);
    const struct {
        const char* name;
        std::function<void()> change;
    } changes[] = {
        {"truncated",
         [&] { fs::resize_file(cachedArchive(), fs::file_size(cachedArchive()) / 2); }},
        {"one byte changed",
         [&] {
             std::fstream archive(cachedArchive(), std::ios::in | std::ios::out | std::ios::binary);
             archive.seekp(static_cast<std::streamoff>(fs::file_size(cachedArchive()) / 2));
             archive.put('\x5a');
         }},
        {"emptied", [&] { fs::resize_file(cachedArchive(), 0); }},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.name);
        change.change();
        const LaunchOutcome outcome = launch();
        EXPECT_EQ(outcome.message(), std::nullopt);
        EXPECT_EQ(outcome.stages[1], RemoteLaunchStage::downloading);
        expectCleanMachineAndWorkingNextLaunch();
    }
}

// A tmpfs over the cache, small or made read-only, for one case each; mounting needs root
// (CI runs as root), so elsewhere the test is skipped.
TEST_F(DiskFaultTest, AReadOnlyOrFullCacheEndsTheLaunchWithTheReasonAndNoPartialFile) {
    const auto archiveSize = fs::file_size(builds / kPreview / "artifact.zip");
    const auto mount = [&](const std::string& size, unsigned long flags) {
        return ::mount("quaylet-faults", cacheRoot.c_str(), "tmpfs", flags,
                       ("size=" + size).c_str()) == 0;
    };
    const struct {
        const char* name;
        std::string size;
        bool readOnly;
        bool launchedBefore;  // the disk turns read-only after a first launch
        std::string message;  // a part of it
        RemoteLaunchStage stage;
    } disks[] = {
        {"an empty cache on a read-only disk", "16m", true, false, "Read-only file system",
         RemoteLaunchStage::fetching},
        // The unpacking tool cannot write.
        {"a cached build on a disk turned read-only", "16m", true, true, kCommandFailed,
         RemoteLaunchStage::extracting},
        // Smaller than the archive: the download cannot be saved.
        {"full during the download", std::to_string(archiveSize / 2), false, false,
         "No space left on device", RemoteLaunchStage::downloading},
        // Holds the archive but not its unpacked copy as well.
        {"full while unpacking", std::to_string(archiveSize + archiveSize / 2), false, false,
         kCommandFailed, RemoteLaunchStage::extracting},
    };
    fs::create_directories(cacheRoot);
    for (const auto& disk : disks) {
        SCOPED_TRACE(disk.name);
        if (!mount(disk.size, disk.readOnly && !disk.launchedBefore ? MS_RDONLY : 0)) {
            GTEST_SKIP() << "this process may not mount a tmpfs: " << std::strerror(errno);
        }
        const struct Unmount {
            const fs::path& at;
            ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
        } unmount{cacheRoot};
        if (disk.launchedBefore) {
            ASSERT_EQ(launch().message(), std::nullopt);
            ASSERT_TRUE(mount(disk.size, MS_REMOUNT | MS_RDONLY)) << std::strerror(errno);
        }
        const LaunchOutcome outcome = launch();
        EXPECT_NE(outcome.message().value_or("").find(disk.message), std::string::npos)
            << outcome.message().value_or("it succeeded");
        EXPECT_EQ(outcome.stages.back(), disk.stage);
        ASSERT_TRUE(mount("16m", MS_REMOUNT)) << std::strerror(errno);
        expectCleanMachineAndWorkingNextLaunch();
    }
}

}  // namespace
}  // namespace quaylet::testing
