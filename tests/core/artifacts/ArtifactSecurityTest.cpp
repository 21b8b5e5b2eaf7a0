#include "core/artifacts/ArtifactSecurity.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "core/artifacts/ArchiveRefusal.h"
#include "core/artifacts/ListingLines.h"
#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"
#include "support/ScriptedTools.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;
using fixtures::AppBundleBuilder;
using fixtures::ZipBuilder;

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

std::string readFile(const fs::path& path) {
    std::ifstream input(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(input), {}};
}

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const QuayletError& error) {
        return error.errorDescription();
    }
    return "(no error)";
}

ZipBuilder buildOf(const std::vector<AppBundleBuilder>& apps) {
    ZipBuilder zip;
    for (const AppBundleBuilder& app : apps) {
        for (const auto& file : app.files()) {
            zip.addFile("Payload/" + file.path, file.contents, file.permissions);
        }
    }
    return zip;
}

class ArtifactSecurityTest : public ::testing::Test {
  protected:
    ArtifactSecurity securityWith(const DeveloperTools& tools) {
        return ArtifactSecurity(ProcessRunner(), tools);
    }

    testing::TemporaryDirectory scratch;
    testing::ScriptedTools fallback;
    ArtifactSecurity security{ProcessRunner(), testing::archiveToolsForTests(fallback)};
};

TEST_F(ArtifactSecurityTest, DigestsMatchKnownValuesAndTheSystemTool) {
    writeFile(scratch.path() / "abc", "abc");
    writeFile(scratch.path() / "empty", "");
    EXPECT_EQ(security.sha256(scratch.path() / "abc", {}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(security.sha256(scratch.path() / "empty", {}),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    // Crosses several read pieces and ends inside one.
    std::string large(3 * ArtifactSecurity::kDigestChunkSize + 17, '\0');
    for (std::size_t index = 0; index < large.size(); ++index) {
        large[index] = static_cast<char>(index * 31 % 251);
    }
    const fs::path file = scratch.path() / "large";
    writeFile(file, large);
    const ProcessResult tool =
        ProcessRunner().runChecked({"/usr/bin/sha256sum", {file.string()}}, {});
    EXPECT_EQ(security.sha256(file, {}), tool.standardOutput.substr(0, 64));

    EXPECT_THROW(security.sha256(scratch.path() / "missing", {}), fs::filesystem_error);
}

TEST_F(ArtifactSecurityTest, VerifyIgnoresCaseAndDeletesAMismatchedFile) {
    const fs::path file = scratch.path() / "artifact.zip";
    writeFile(file, "abc");
    const std::string digest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = digest;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    security.verify(file, upper, {});
    EXPECT_TRUE(fs::exists(file));

    std::string wrong = upper;
    wrong.back() = 'E';
    try {
        security.verify(file, wrong, {});
        FAIL() << "accepted a wrong digest";
    } catch (const QuayletError& error) {
        EXPECT_EQ(error, QuayletError::checksumMismatch(wrong, digest));
    }
    EXPECT_FALSE(fs::exists(file));
}

TEST(ArchiveEntryRulesTest, NamesAreJudgedByTheirSpelling) {
    const struct {
        std::vector<std::string> names;
        std::string_view message;
    } cases[] = {
        {{"Payload/Demo.app/Info.plist"}, ""},
        {{"Payload/.../x", "..a", "Payload/./x"}, ""},
        {{"/etc/passwd"}, kSecurityCheckMessage},
        {{"~/x"}, kSecurityCheckMessage},
        {{"Payload/../../x"}, kSecurityCheckMessage},
        {{"Payload/.."}, kSecurityCheckMessage},
        {{"Payload\\Demo.app"}, kSecurityCheckMessage},
        {{"Payload/ok", "../late"}, kSecurityCheckMessage},
        {{}, kEmptyBuildMessage},
    };
    for (const auto& testCase : cases) {
        const std::string message =
            messageOf([&] { ArtifactSecurity::validateArchiveEntries(testCase.names); });
        EXPECT_EQ(message, testCase.message.empty() ? "(no error)" : testCase.message)
            << testCase.names.size();
    }
}

TEST(ListingLinesTest, EveryLineBreakSplitsAndNothingElseChanges) {
    const std::vector<std::string> expected{"a", " b ", "c"};
    for (const std::string separator :
         {"\n", "\r", "\r\n", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
        EXPECT_EQ(
            splitListingLines("a" + separator + " b " + separator + separator + "c" + separator),
            expected)
            << separator;
    }
    EXPECT_EQ(splitListingLines("x\r\n\r\ny"), splitListingLines("x\n\ny"));
    EXPECT_TRUE(splitListingLines("").empty());
    EXPECT_EQ(splitListingLines("\xE2\x80"), std::vector<std::string>{"\xE2\x80"});
}

TEST_F(ArtifactSecurityTest, ExtractsTheOneAppAndReplacesTheOldDestination) {
    const fs::path archive = scratch.path() / "artifact.zip";
    const fs::path destination = scratch.path() / "cache" / "dest";
    writeFile(destination / "stale", "old");
    const AppBundleBuilder app;
    ZipBuilder zip = buildOf({app});
    zip.addFile("Payload/Demo.app/Watch/Watch.app/Info.plist", "nested")
        .addFile("Payload/Demo.app/tool", "x", 06755)
        .addSymlink("Payload/Demo.app/Current", "Watch/../Info.plist")
        .add({.name = "Payload/Demo.app/late",
              .data = "sizes after the data",
              .method = fixtures::ZipMethod::stored,
              .dataDescriptor = true})
        .writeTo(archive);

    const fs::path bundle = security.extractSecurely(archive, destination, {});

    EXPECT_EQ(bundle, destination / "Payload" / "Demo.app");
    EXPECT_FALSE(fs::exists(destination / "stale"));
    EXPECT_EQ(readFile(bundle / "Info.plist"), app.infoPlistBytes());
    EXPECT_EQ(readFile(bundle / "Current"), app.infoPlistBytes());
    EXPECT_EQ(readFile(bundle / "late"), "sizes after the data");
    EXPECT_TRUE(fs::exists(archive));
    struct stat status {};
    ASSERT_EQ(::stat((bundle / "tool").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755U) << "setuid, setgid and sticky bits must go";
}

// A remembered scan verdict spares inflating every entry again, so it may count only for the
// digest the caller has just verified, and never instead of the checks on link targets.
TEST_F(ArtifactSecurityTest, AScanVerdictHoldsOnlyForTheDigestJustVerified) {
    const fs::path archive = scratch.path() / "artifact.zip";
    const fs::path verdict = scratch.path() / ArtifactSecurity::kScanVerdictName;
    const auto extract = [&](std::optional<std::string> verified) {
        return messageOf(
            [&] { security.extractSecurely(archive, scratch.path() / "d", {}, verified); });
    };
    const std::string refused =
        QuayletError::unsafeArchive(std::string(kSecurityCheckMessage)).errorDescription();

    // Only inflating shows that this entry is larger than it claims.
    buildOf({AppBundleBuilder()})
        .add({.name = "Payload/Demo.app/f", .data = std::string(100000, 'a'), .declaredSize = 10})
        .writeTo(archive);
    const std::string lying = security.sha256(archive, {});
    const struct {
        const char* name;
        std::optional<std::string> remembered;
        std::optional<std::string> verified;
    } cases[] = {
        {"no verdict yet", std::nullopt, lying},
        {"a verdict for other bytes", std::string(64, '0'), lying},
        {"a verdict, but no digest verified", lying, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(verdict);
        if (c.remembered) {
            writeFile(verdict, *c.remembered + "\n");
        }
        EXPECT_EQ(extract(c.verified), refused);
        EXPECT_EQ(readFile(verdict), c.remembered ? *c.remembered + "\n" : "")
            << "a refused archive earns no verdict";
    }

    buildOf({AppBundleBuilder()}).addSymlink("Payload/Demo.app/Out", "../../..").writeTo(archive);
    const std::string escaping = security.sha256(archive, {});
    writeFile(verdict, escaping + "\n");
    EXPECT_EQ(extract(escaping), refused);

    fs::remove(verdict);
    buildOf({AppBundleBuilder()}).writeTo(archive);
    const std::string good = security.sha256(archive, {});
    EXPECT_EQ(extract(good), "(no error)");
    EXPECT_EQ(readFile(verdict), good + "\n");
    EXPECT_EQ(extract(good), "(no error)");
}

TEST_F(ArtifactSecurityTest, AcceptsArchivesFromARealZipWriter) {
    const fs::path source = scratch.path() / "source";
    AppBundleBuilder().writeInto(source / "Payload");
    fs::create_symlink("Info.plist", source / "Payload" / "Demo.app" / "Alias.plist");
    writeFile(source / "Payload" / "Demo.app" / "Resources" / "blob", std::string(300000, 'q'));
    for (const std::string options : {"zip:compression=deflate", "zip:zip64"}) {
        SCOPED_TRACE(options);
        const fs::path archive = scratch.path() / "bsdtar.zip";
        ProcessRunner().runChecked({"/usr/bin/bsdtar",
                                    {"-c", "--format", "zip", "--options", options, "-f",
                                     archive.string(), "-C", source.string(), "Payload"}},
                                   {});
        const fs::path bundle = security.extractSecurely(archive, scratch.path() / "dest", {});
        EXPECT_EQ(bundle.filename(), "Demo.app");
        EXPECT_EQ(fs::read_symlink(bundle / "Alias.plist"), "Info.plist");
        fs::remove(archive);
    }
}

TEST_F(ArtifactSecurityTest, ToolFailuresLeaveNoDestination) {
    const fs::path archive = scratch.path() / "artifact.zip";
    buildOf({AppBundleBuilder()}).writeTo(archive);
    const fs::path destination = scratch.path() / "dest";
    const fs::path outside = scratch.path() / "outside";
    fs::create_directories(outside);

    testing::ScriptedTools failingList;
    failingList.add("zipinfo", "echo broken >&2; exit 3");
    try {
        securityWith(failingList.tools()).extractSecurely(archive, destination, {});
        FAIL() << "accepted";
    } catch (const QuayletError& error) {
        const auto* failed = error.as<QuayletError::CommandFailed>();
        ASSERT_NE(failed, nullptr);
        EXPECT_EQ(failed->status, 3);
        EXPECT_EQ(failed->details, "broken");
    }

    testing::ScriptedTools lyingList;
    lyingList.add("zipinfo", "printf 'Payload/ok\\r\\n/etc/passwd\\r\\n'");
    EXPECT_EQ(messageOf([&] {
                  securityWith(lyingList.tools()).extractSecurely(archive, destination, {});
              }),
              kSecurityCheckMessage);

    testing::ScriptedTools failingExtract;
    failingExtract.add("zipinfo", "exec /usr/bin/zipinfo \"$@\"");
    failingExtract.add("ditto", "mkdir -p \"$5/Payload\"; exit 1");
    EXPECT_THROW(securityWith(failingExtract.tools()).extractSecurely(archive, destination, {}),
                 QuayletError);
    EXPECT_FALSE(fs::exists(destination));

    // An extractor that misbehaves despite the scan is caught by the checks on the tree.
    testing::ScriptedTools escapingExtract;
    escapingExtract.add("zipinfo", "exec /usr/bin/zipinfo \"$@\"");
    escapingExtract.add("ditto", "/usr/bin/bsdtar -x -f \"$4\" -C \"$5\" && ln -s " +
                                     outside.string() + " \"$5/Payload/out\"");
    EXPECT_EQ(messageOf([&] {
                  securityWith(escapingExtract.tools()).extractSecurely(archive, destination, {});
              }),
              kSecurityCheckMessage);
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_TRUE(fs::is_empty(outside));

    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(security.extractSecurely(archive, destination, stopped.get_token()),
                 CancellationError);
    EXPECT_FALSE(fs::exists(destination));
}

TEST_F(ArtifactSecurityTest, TreeChecksFollowLinksOnDiskComponentByComponent) {
    struct TreeCase {
        const char* name;
        std::function<void(const fs::path& root)> make;
        std::string_view message;
    };
    const TreeCase cases[] = {
        {"link to a file inside",
         [](const fs::path& root) {
             writeFile(root / "a" / "file", "x");
             fs::create_symlink("a/file", root / "l");
         },
         ""},
        {"link to the root itself",
         [](const fs::path& root) {
             fs::create_directories(root / "a");
             fs::create_symlink("..", root / "a" / "up");
         },
         ""},
        {"dangling link inside",
         [](const fs::path& root) { fs::create_symlink("missing/x", root / "l"); }, ""},
        {"link to a sibling sharing the root's name",
         [](const fs::path& root) {
             fs::create_directories(root.string() + "2");
             fs::create_symlink(root.string() + "2", root / "l");
         },
         kSecurityCheckMessage},
        {"relative link to a sibling sharing the root's name",
         [](const fs::path& root) {
             fs::create_directories(root.string() + "2");
             fs::create_symlink("../" + root.filename().string() + "2", root / "l");
         },
         kSecurityCheckMessage},
        {"absolute link into the tree",
         [](const fs::path& root) {
             writeFile(root / "file", "x");
             fs::create_symlink(root / "file", root / "l");
         },
         kSecurityCheckMessage},
        {"dangling link out of the tree",
         [](const fs::path& root) { fs::create_symlink("../../missing", root / "l"); },
         kSecurityCheckMessage},
        {"chained links leaving the tree",
         [](const fs::path& root) {
             fs::create_directories(root / "a");
             fs::create_symlink("..", root / "a" / "up");
             fs::create_symlink("a/up/..", root / "l");
         },
         kSecurityCheckMessage},
        {"link loop",
         [](const fs::path& root) {
             fs::create_symlink("b", root / "a");
             fs::create_symlink("a", root / "b");
         },
         kSecurityCheckMessage},
        {"FIFO",
         [](const fs::path& root) { ASSERT_EQ(::mkfifo((root / "pipe").c_str(), 0644), 0); },
         kSecurityCheckMessage},
        {"sizes adding up to exactly the limit",
         [](const fs::path& root) {
             fs::resize_file((writeFile(root / "a", ""), root / "a"), kExtractedTreeLimit / 2);
             fs::resize_file((writeFile(root / "b" / "c", ""), root / "b" / "c"),
                             kExtractedTreeLimit / 2);
         },
         ""},
        {"sizes one byte over the limit",
         [](const fs::path& root) {
             fs::resize_file((writeFile(root / "a", ""), root / "a"), kExtractedTreeLimit / 2);
             fs::resize_file((writeFile(root / "b" / "c", ""), root / "b" / "c"),
                             kExtractedTreeLimit / 2 + 1);
         },
         kTooLargeMessage},
    };
    for (const TreeCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        testing::TemporaryDirectory parent;
        const fs::path root = parent.path() / "app";
        fs::create_directories(root);
        testCase.make(root);
        EXPECT_EQ(messageOf([&] { security.validateExtractedTree(root); }),
                  testCase.message.empty() ? "(no error)" : testCase.message);
    }
}

TEST_F(ArtifactSecurityTest, TreeChecksComputeTheRootThroughItsOwnLinks) {
    const fs::path real = scratch.path() / "real";
    writeFile(real / "file", "x");
    fs::create_symlink("file", real / "l");
    fs::create_symlink(real, scratch.path() / "alias");
    EXPECT_NO_THROW(security.validateExtractedTree(scratch.path() / "alias"));
    EXPECT_EQ(messageOf([&] { security.validateExtractedTree(scratch.path() / "missing"); }),
              kCannotInspectMessage);
}

TEST_F(ArtifactSecurityTest, AppBundlesSkipWhatIsInsidePackages) {
    const fs::path root = scratch.path();
    writeFile(root / "Payload" / "A.app" / "Watch" / "W.app" / "Info.plist", "x");
    writeFile(root / "Payload" / "Kit.framework" / "Inner.app" / "Info.plist", "x");
    writeFile(root / "Payload" / "Upper.APP" / "Info.plist", "x");
    EXPECT_EQ(security.appBundles(root), std::vector<fs::path>{root / "Payload" / "A.app"});

    writeFile(root / "Second.app" / "Info.plist", "x");
    EXPECT_EQ(security.appBundles(root).size(), 2U);
    EXPECT_TRUE(security.appBundles(root / "missing").empty());
}

}  // namespace
}  // namespace quaylet
