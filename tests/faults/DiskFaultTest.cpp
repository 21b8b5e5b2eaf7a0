// The cache's disk misbehaving: an archive that changed since it was verified, a cache that
// cannot be written, and a disk that fills up part-way.
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "LaunchRoad.h"

namespace quaylet::testing {
namespace {

namespace fs = std::filesystem;

const std::string kCommandFailed =
    "A required Mac command failed. Open Diagnostics, then try again.";

bool contains(const std::optional<std::string>& text, const std::string& part) {
    return text && text->find(part) != std::string::npos;
}

// A tmpfs mounted over a folder for one test, so that a disk can be made small or read-only.
class ScratchDisk {
  public:
    // Absent when this process may not mount (not root, or in a container that forbids it).
    static std::unique_ptr<ScratchDisk> mount(const fs::path& at, const std::string& size,
                                              bool readOnly = false) {
        fs::create_directories(at);
        if (::mount("quaylet-faults", at.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0,
                    ("size=" + size).c_str()) != 0) {
            return nullptr;
        }
        return std::unique_ptr<ScratchDisk>(new ScratchDisk(at));
    }
    ~ScratchDisk() { ::umount2(path_.c_str(), MNT_DETACH); }
    ScratchDisk(const ScratchDisk&) = delete;
    ScratchDisk& operator=(const ScratchDisk&) = delete;

    // Changes size or writability in place; the files stay.
    void remount(const std::string& size, bool readOnly) const {
        ASSERT_EQ(::mount("quaylet-faults", path_.c_str(), "tmpfs",
                          MS_REMOUNT | (readOnly ? MS_RDONLY : 0), ("size=" + size).c_str()),
                  0)
            << std::strerror(errno);
    }

  private:
    explicit ScratchDisk(fs::path path) : path_(std::move(path)) {}
    fs::path path_;
};

constexpr const char* kMountRefused =
    "mounting a tmpfs needs root (CI runs as root); this process may not mount";

class DiskFaultTest : public LaunchRoadTest {};

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

TEST_F(DiskFaultTest, AReadOnlyCacheEndsTheLaunchWithTheSystemsReason) {
    {
        SCOPED_TRACE("an empty cache on a read-only disk");
        const auto disk = ScratchDisk::mount(cacheRoot, "16m", /*readOnly=*/true);
        if (!disk) {
            GTEST_SKIP() << kMountRefused;
        }
        const LaunchOutcome outcome = launch();
        EXPECT_TRUE(contains(outcome.message(), "Read-only file system")) << *outcome.message();
        EXPECT_EQ(outcome.stages.back(), RemoteLaunchStage::fetching);
        disk->remount("16m", /*readOnly=*/false);
        expectCleanMachineAndWorkingNextLaunch();
    }
    {
        SCOPED_TRACE("a cached build on a disk turned read-only");
        const auto disk = ScratchDisk::mount(cacheRoot, "16m");
        ASSERT_TRUE(disk);
        ASSERT_EQ(launch().message(), std::nullopt);
        disk->remount("16m", /*readOnly=*/true);
        const LaunchOutcome outcome = launch();
        EXPECT_EQ(outcome.message(), kCommandFailed) << "the unpacking tool cannot write";
        EXPECT_EQ(outcome.stages.back(), RemoteLaunchStage::extracting);
        disk->remount("16m", /*readOnly=*/false);
        expectCleanMachineAndWorkingNextLaunch();
    }
}

TEST_F(DiskFaultTest, ADiskThatFillsUpLeavesNoPartialFile) {
    const auto archiveSize = fs::file_size(builds / kPreview / "artifact.zip");
    const struct {
        const char* name;
        std::string size;
        RemoteLaunchStage stage;
        std::string message;
    } disks[] = {
        // Smaller than the archive: the download cannot be saved.
        {"full during the download", std::to_string(archiveSize / 2),
         RemoteLaunchStage::downloading, "No space left on device"},
        // Holds the archive but not its unpacked copy as well.
        {"full while unpacking", std::to_string(archiveSize + archiveSize / 2),
         RemoteLaunchStage::extracting, kCommandFailed},
    };
    for (const auto& disk : disks) {
        SCOPED_TRACE(disk.name);
        const auto mounted = ScratchDisk::mount(cacheRoot, disk.size);
        if (!mounted) {
            GTEST_SKIP() << kMountRefused;
        }
        const LaunchOutcome outcome = launch();
        EXPECT_TRUE(contains(outcome.message(), disk.message)) << outcome.message().value_or("");
        EXPECT_EQ(outcome.stages.back(), disk.stage);
        mounted->remount("16m", /*readOnly=*/false);
        expectCleanMachineAndWorkingNextLaunch();
    }
}

}  // namespace
}  // namespace quaylet::testing
