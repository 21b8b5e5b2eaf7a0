#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/errors/CancellationError.h"
#include "core/errors/DecodingError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "core/support/FileTree.h"
#include "core/support/LaunchTimeline.h"
#include "core/support/Redaction.h"
#include "core/support/SemanticVersion.h"
#include "core/support/Sha256.h"
#include "core/support/SharedLibrary.h"
#include "core/support/Text.h"
#include "core/support/TextComparison.h"
#include "core/support/TrailingDigest.h"
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

// A case's name, bytes in and the text they must give.
using Case = std::tuple<const char*, std::string, std::string>;

// Bytes are decoded first, each maximal invalid subpart replaced once.
TEST(TextTest, OutsideTextPrintsInert) {
    const Case cases[] = {
        {"truncated three-byte sequence is one subpart", "a\xE2\x82z", "a\uFFFDz"},
        {"truncated at the end", "a\xF0\x9F\x9A", "a\uFFFD"},
        {"overlong encoding", "\xC0\xAF", "\uFFFD\uFFFD"},
        {"surrogate half", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"invalid lead bytes", "\xFE\xFF", "\uFFFD\uFFFD"},
        {"printable text passes", "Fix \u201Ccaf\u00E9\u201D #12 \U0001F680",
         "Fix \u201Ccaf\u00E9\u201D #12 \U0001F680"},
        {"line breaks, tab, NUL and DEL", std::string("a\nb\tc\0d\x7F", 8),
         "a\uFFFDb\uFFFDc\uFFFDd\uFFFD"},
        {"C1 controls as characters", "\u009B31m\u0085\u0080", "\uFFFD31m\uFFFD\uFFFD"},
        {"line and paragraph separators", "a\u2028b\u2029c", "a\uFFFDb\uFFFDc"},
        {"bidirectional controls", "\u202Egnp.exe\u202C\u2066\u2069\u200E\u200F\u061C",
         "\uFFFDgnp.exe\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"neighbours of the ranges pass", " ~\u00A0\u2027\u202F", " ~\u00A0\u2027\u202F"},
    };
    for (const auto& [name, bytes, text] : cases) {
        EXPECT_EQ(inertText(bytes), text) << name;
    }
}

TEST(TextTest, TrimsAsciiAndUnicodeWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(trimmed(" \t\r\n word \v\f"), "word");
    EXPECT_EQ(trimmed("\u00A0\u2028two words\u3000\u0085"), "two words");
    EXPECT_EQ(trimmed("inner \n space"), "inner \n space");
    EXPECT_EQ(trimmed(""), "");
    EXPECT_EQ(trimmed("caf\xC3\xA9 "), "caf\xC3\xA9");
    EXPECT_EQ(trimmed("\x80 "), "\x80") << "invalid bytes are kept";
}

TEST(TextComparisonTest, NaturalOrderComparesDigitRunsByValueAndIgnoresCase) {
    const std::tuple<std::string, std::string, std::weak_ordering> cases[] = {
        {"iPhone 15", "iPhone 15 Pro", std::weak_ordering::less},
        {"iphone 15", "iPhone 15", std::weak_ordering::equivalent},
        {"iPhone 007", "iPhone 7", std::weak_ordering::equivalent},
        {"a99999999999999999999999", "a100000000000000000000000", std::weak_ordering::less},
        {"x2y10", "x2y9", std::weak_ordering::greater},
        {"z", "\xC3\xA9", std::weak_ordering::less},  // é after every ASCII letter
    };
    for (const auto& [left, right, expected] : cases) {
        EXPECT_EQ(naturalCompare(left, right), expected) << left << " | " << right;
        EXPECT_EQ(naturalCompare(right, left), 0 <=> expected) << "the order is antisymmetric";
    }
}

TEST(RedactionTest, TakesOutSecretsQueriesAndTheHomeFolder) {
    const Redaction redaction({"tok/en+1\"", ""}, "/home/ann/");
    const std::pair<std::string, std::string> cases[] = {
        {"bearer tok/en+1\"!", "bearer [redacted]!"},
        {"?t=tok%2Fen%2B1%22&x", "?t=[redacted]&x"},  // percent-encoded, outside a URL
        {R"({"t":"tok/en+1\""})", R"({"t":"[redacted]"})"},
        {"see https://cdn.example/a.zip?X-Sig=abc&e=1 now",
         "see https://cdn.example/a.zip?"
         "[redacted] now"},
        {R"(["http://h/p?q=1","quaylet://preview/x"])",
         R"(["http://h/p?[redacted]","quaylet://preview/x"])"},
        {"/home/ann/app /home/anna /x/home/ann", "~/app /home/anna /x/home/ann"},
        {"/home/ann", "~"},
    };
    for (const auto& [text, redacted] : cases) {
        EXPECT_EQ(redaction.apply(text), redacted) << text;
    }
    EXPECT_EQ(Redaction({}, "/").apply("/etc/a"), "/etc/a") << "a root home is no home folder";
}

TEST(LaunchTimelineTest, StepsEndByTheirScopeAndKeepTheirRungs) {
    LaunchTimeline timeline;
    try {
        LaunchTimeline::Step boot = timeline.begin(LaunchStep::boot, "iPhone 16 Pro");
        {
            const LaunchTimeline::Step rung =
                boot.rung("Restarting iPhone 16 Pro after a stuck start…");
        }
        boot.setBytes(7);
        const LaunchTimeline::Step install = timeline.begin(LaunchStep::install, "iPhone 16 Pro");
        throw std::runtime_error("install failed");
    } catch (const std::runtime_error&) {
    }
    const std::vector<TimelineEntry> entries = timeline.entries();
    ASSERT_EQ(entries.size(), 2U);
    EXPECT_EQ(entries[0].state, StepState::failed) << "left by the exception too";
    ASSERT_EQ(entries[0].rungs.size(), 1U);
    EXPECT_EQ(entries[0].rungs[0].state, StepState::done);
    EXPECT_EQ(entries[0].rungs[0].device, "iPhone 16 Pro");
    EXPECT_EQ(entries[1].state, StepState::failed);
    const auto json = timeline.toJson();
    EXPECT_EQ(json["steps"][0]["rungs"][0]["detail"],
              "Restarting iPhone 16 Pro after a stuck start…");
    EXPECT_EQ(json["steps"][0]["bytes"], 7);
}

TEST(SemanticVersionTest, ParsesLeniently) {
    const std::pair<const char*, std::optional<SemanticVersion>> cases[] = {
        {"17", SemanticVersion{17, 0, 0}},
        {"17..4", SemanticVersion{17, 0, 4}},
        {"17.2.1.9", SemanticVersion{17, 2, 1}},
        {"+17.-2.3", SemanticVersion{17, -2, 3}},
        {"9223372036854775807", SemanticVersion{9223372036854775807, 0, 0}},
        {" 17", std::nullopt},
        {"", std::nullopt},
        {"+-1", std::nullopt},
        {"9223372036854775808", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(SemanticVersion::parse(text), expected) << text;
    }
    EXPECT_EQ(SemanticVersion::parse("17.2 ")->minor, 0) << "white space is never trimmed";
}

constexpr const char* kBoot =
    "Simulator couldn’t start. Open Simulator, confirm an iPhone is available, then try again.";

// A failed command's sentence follows the simulator step its command line names.
TEST(UserMessageTest, ShowsEachKindOfFailureAndHidesCancellation) {
    using Kind = DecodingError::Kind;
    const auto failed = [](const char* command) {
        return std::make_exception_ptr(QuayletError::commandFailed(command, 1, "x"));
    };
    const std::pair<std::exception_ptr, std::optional<std::string>> cases[] = {
        {failed("/usr/bin/xcrun simctl boot ABC"), kBoot},
        {failed("/usr/bin/xcrun simctl install ABC /a.app"),
         "The app couldn’t be installed. Restart Simulator, then try again."},
        {failed("/usr/bin/xcrun simctl launch ABC com.x"),
         "The app was installed but didn’t open. Restart Simulator, then try again."},
        {failed("simctl launch simctl boot"), kBoot},
        {failed("/usr/bin/xcrun simctl bootstatus ABC -b"), kBoot},
        {failed("XCRUN SIMCTL BOOT ABC"),
         "A required Mac command failed. Open Diagnostics, then try again."},
        {std::make_exception_ptr(QuayletError::noCompatibleSimulator("17.2.0", {"16.4.0"})),
         "No compatible Simulator is installed. This build needs iOS 17.2.0 or later. Install a "
         "matching runtime in Xcode."},
        {std::make_exception_ptr(QuayletError::unsupportedSchema(2)),
         "This build needs a newer version of Quaylet. Check for updates, then try again."},
        {std::make_exception_ptr(
             DecodingError(Kind::dataCorrupted, "previews[2].createdAt", "Invalid ISO-8601 date")),
         "The data couldn’t be read because it isn’t in the correct format. "
         "(previews[2].createdAt)"},
        {std::make_exception_ptr(DecodingError(Kind::keyNotFound, "sha256", "No value for key")),
         "The data couldn’t be read because it is missing. (sha256)"},
        {std::make_exception_ptr(CancellationError()), std::nullopt},
        {std::make_exception_ptr(42), "An unexpected error occurred. Try again."},
    };
    for (const auto& [failure, message] : cases) {
        EXPECT_EQ(userMessage(failure), message);
    }
}

// Builds, one level at a time, a chain of folders far longer than any path may be and
// deeper than the descriptors the test then allows.
void makeDeepChain(const fs::path& top) {
    const fs::path start = fs::current_path();
    fs::create_directory(top);
    fs::current_path(top);
    for (int level = 0; level < 300; ++level) {
        fs::create_directory(std::string(200, 'd'));
        fs::current_path(std::string(200, 'd'));
    }
    std::ofstream("f") << "x";
    fs::current_path(start);
}

TEST(FileTreeTest, RemovesTheWholeTreeAndNothingOutsideIt) {
    const struct {
        const char* name;
        std::function<void(const fs::path& tree, const fs::path& outside)> make;
    } cases[] = {
        {"missing root", [](auto&, auto&) {}},
        {"a single file", [](const fs::path& tree, auto&) { std::ofstream(tree) << "x"; }},
        {"a deep tree left by an older version",
         [](const fs::path& tree, auto&) { makeDeepChain(tree); }},
        {"folders without owner permissions",
         [](const fs::path& tree, auto&) {
             fs::create_directories(tree / "locked/inner");
             std::ofstream(tree / "locked/inner/f") << "x";
             fs::permissions(tree / "locked/inner", fs::perms::none);
             fs::permissions(tree / "locked", fs::perms::owner_read | fs::perms::owner_exec);
         }},
        {"links to a folder and a file outside",
         [](const fs::path& tree, const fs::path& outside) {
             fs::create_directories(tree / "sub");
             fs::create_directory_symlink(outside, tree / "sub/folder");
             fs::create_symlink(outside / "kept", tree / "file");
         }},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const testing::TemporaryDirectory scratch;
        const fs::path tree = scratch.path() / "tree";
        const fs::path outside = scratch.path() / "outside";
        fs::create_directory(outside);
        std::ofstream(outside / "kept") << "kept";
        testCase.make(tree, outside);
        rlimit descriptors{};
        ::getrlimit(RLIMIT_NOFILE, &descriptors);
        const rlimit few{64, descriptors.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &few);
        EXPECT_NO_THROW(removeTree(tree));
        ::setrlimit(RLIMIT_NOFILE, &descriptors);
        EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
        EXPECT_TRUE(fs::exists(outside / "kept"));
    }
}

// A library that cannot be loaded, or lacks a function, is named in a sentence that says what
// Quaylet needs.
TEST(SharedLibraryTest, SaysWhichLibraryOrFunctionIsMissing) {
    using ::testing::StartsWith;
    using ::testing::ThrowsMessage;
    const SharedLibrary libm("libm.so.6", "libm", "a C library");
    double (*cosine)(double) = nullptr;
    libm.find(cosine, "cos");
    EXPECT_DOUBLE_EQ(cosine(0), 1);
    void (*missing)() = nullptr;
    EXPECT_THAT(
        [&] { libm.find(missing, "no_such_fn"); },
        ThrowsMessage<std::runtime_error>("libm has no no_such_fn; Quaylet needs a C library."));
    EXPECT_THAT([] { SharedLibrary("libquaylet-absent.so.9", "absent", ""); },
                ThrowsMessage<std::runtime_error>(StartsWith("absent could not be loaded: ")));
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
