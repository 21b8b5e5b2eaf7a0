#include "core/support/TrailingDigest.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/support/Sha256.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

// count bytes whose values depend on their place in the file, starting at offset.
std::string makeBytes(std::size_t offset, std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t index = 0; index < count; ++index) {
        bytes[index] = char((offset + index) * 131 % 251);
    }
    return bytes;
}

TEST(TrailingDigestTest, HashesTheBytesAlreadyThereAndEachAppendedPiece) {
    constexpr std::size_t kMiB = 1024 * 1024;
    const struct {
        const char* name;
        std::size_t alreadyThere;
        std::vector<std::size_t> pieces;
    } cases[] = {
        {"an empty file", 0, {}},
        {"bytes already there only", 3 * kMiB + 5, {}},
        {"single bytes", 0, {1, 1, 1}},
        {"pieces across the thread's reads", kMiB / 2, {kMiB, 1, 2 * kMiB + 7, 0}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const testing::TemporaryDirectory scratch;
        const fs::path path = scratch.path() / "file";
        const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(descriptor, 0);
        std::string all;
        const auto write = [&](std::size_t count) {
            const std::string bytes = makeBytes(all.size(), count);
            ASSERT_EQ(::write(descriptor, bytes.data(), bytes.size()), ssize_t(bytes.size()));
            all += bytes;
        };
        write(testCase.alreadyThere);
        std::string digest;
        {
            TrailingDigest trailing(descriptor, path, std::int64_t(all.size()));
            for (const std::size_t piece : testCase.pieces) {
                write(piece);
                trailing.appended(std::int64_t(piece));
            }
            digest = trailing.finish({});
        }
        ::close(descriptor);
        Sha256 whole;
        whole.update(all);
        EXPECT_EQ(digest, whole.hexDigest());
    }
}

// Dropped unfinished, as when a download fails, the thread ends without having caught up; a
// file shorter than what was written is a read failure.
TEST(TrailingDigestTest, EndsWhenDroppedAndFailsOnAFileShorterThanWritten) {
    const testing::TemporaryDirectory scratch;
    const fs::path path = scratch.path() / "file";
    std::ofstream(path) << makeBytes(0, 64 * 1024 * 1024);
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    { const TrailingDigest dropped(descriptor, path, 64 * 1024 * 1024); }
    TrailingDigest trailing(descriptor, path, 64 * 1024 * 1024 - 2);
    trailing.appended(3);
    EXPECT_THROW(trailing.finish({}), fs::filesystem_error);
    ::close(descriptor);
}

}  // namespace
}  // namespace quaylet
