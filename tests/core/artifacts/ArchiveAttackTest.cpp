// Hostile archives: each must be refused with the right sentence, leave nothing outside the
// destination and leave no destination behind.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "core/artifacts/ArchiveRefusal.h"
#include "core/artifacts/ArtifactSecurity.h"
#include "core/artifacts/ZipPreflight.h"
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
using fixtures::ZipEntry;
using fixtures::ZipMethod;

// A build that passes every check, so each case below adds exactly one problem.
ZipBuilder validBuild() {
    ZipBuilder zip;
    for (const auto& file : AppBundleBuilder().files()) {
        zip.addFile("Payload/" + file.path, file.contents, file.permissions);
    }
    return zip;
}

struct AttackCase {
    const char* name;
    std::function<ZipBuilder(const fs::path& scratch)> archive;
    std::string_view message;
};

std::vector<fs::path> everythingUnder(const fs::path& folder) {
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        paths.push_back(entry.path());
    }
    return paths;
}

class ArchiveAttackTest : public ::testing::Test {
  protected:
    testing::TemporaryDirectory scratch;
    testing::ScriptedTools fallback;
    ArtifactSecurity security{ProcessRunner(), testing::archiveToolsForTests(fallback)};
};

TEST_F(ArchiveAttackTest, EveryHostileArchiveIsRefusedWithoutTouchingTheDisk) {
    const AttackCase cases[] = {
        {"parent traversal", [](auto&) { return validBuild().addFile("../escape", "x"); },
         kSecurityCheckMessage},
        {"deep traversal", [](auto&) { return validBuild().addFile("Payload/../../escape", "x"); },
         kSecurityCheckMessage},
        {"absolute name",
         [](const fs::path& scratch) {
             return validBuild().addFile((scratch / "absolute-escape").string(), "x");
         },
         kSecurityCheckMessage},
        {"home folder name", [](auto&) { return validBuild().addFile("~/escape", "x"); },
         kSecurityCheckMessage},
        {"backslash traversal", [](auto&) { return validBuild().addFile("..\\escape", "x"); },
         kSecurityCheckMessage},
        {"control character", [](auto&) { return validBuild().addFile("Payload/a\x01z", "x"); },
         kSecurityCheckMessage},
        {"delete character", [](auto&) { return validBuild().addFile("Payload/a\x7f", "x"); },
         kSecurityCheckMessage},
        {"line feed splits the listing",
         [](auto&) { return validBuild().addFile("Payload/a\n../../escape", "x"); },
         kSecurityCheckMessage},
        {"NUL in a name",
         [](auto&) { return validBuild().addFile(std::string("Payload/a\0/../../x", 18), "x"); },
         kSecurityCheckMessage},
        {"line separator",
         [](auto&) { return validBuild().addFile("Payload/a\xE2\x80\xA8z", "x"); },
         kSecurityCheckMessage},
        {"invalid UTF-8", [](auto&) { return validBuild().addFile("Payload/\xff", "x"); },
         kSecurityCheckMessage},
        {"central and local names differ",
         [](auto&) {
             return validBuild().add(
                 {.name = "Payload/safe", .data = "x", .localName = "../escape"});
         },
         kSecurityCheckMessage},
        {"Unicode path field differs",
         [](auto&) {
             return validBuild().add(
                 {.name = "Payload/safe", .data = "x", .unicodePath = "../../escape"});
         },
         kSecurityCheckMessage},
        {"local size differs",
         [](auto&) {
             return validBuild().add(
                 {.name = "Payload/f", .data = "hello", .localDeclaredSize = 1});
         },
         kSecurityCheckMessage},
        {"local method differs",
         [](auto&) {
             return validBuild().add({.name = "Payload/f",
                                      .data = "hello",
                                      .method = ZipMethod::stored,
                                      .localMethod = ZipMethod::deflated});
         },
         kSecurityCheckMessage},
        {"size header lies",
         [](auto&) {
             return validBuild().add(
                 {.name = "Payload/f", .data = std::string(100000, 'a'), .declaredSize = 10});
         },
         kSecurityCheckMessage},
        {"high-ratio bomb behind a small declared size",
         [](auto&) {
             return validBuild().add({.name = "Payload/bomb",
                                      .data = std::string(16 * 1024 * 1024, '\0'),
                                      .declaredSize = 1024});
         },
         kSecurityCheckMessage},
        {"overlapping entries",
         [](auto&) {
             return validBuild()
                 .add({.name = "Payload/outer", .data = "abc", .method = ZipMethod::stored})
                 .add({.name = "Payload/inner", .data = "x", .nestedInPrevious = true});
         },
         kSecurityCheckMessage},
        {"stored data hiding a data descriptor",
         [](auto&) {
             return validBuild().add({.name = "Payload/f",
                                      .data = std::string("PK\x07\x08", 4) + "fake",
                                      .method = ZipMethod::stored,
                                      .dataDescriptor = true});
         },
         kSecurityCheckMessage},
        {"leading junk", [](auto&) { return validBuild().leadingJunk("MZ-stub"); },
         kSecurityCheckMessage},
        {"trailing junk", [](auto&) { return validBuild().trailingJunk("junk"); },
         kSecurityCheckMessage},
        {"same name twice",
         [](auto&) { return validBuild().addFile("Payload/x", "1").addFile("Payload/x", "2"); },
         kSecurityCheckMessage},
        {"names differing only in case",
         [](auto&) {
             return validBuild().addFile("Payload/README", "1").addFile("payload/readme", "2");
         },
         kSecurityCheckMessage},
        {"entry below a file",
         [](auto&) { return validBuild().addFile("Payload/x", "1").addFile("Payload/x/y", "2"); },
         kSecurityCheckMessage},
        {"character device",
         [](auto&) {
             return validBuild().add(
                 {.name = "Payload/tty", .mode = S_IFCHR | 0644, .method = ZipMethod::stored});
         },
         kSecurityCheckMessage},
        {"FIFO",
         [](auto&) {
             return validBuild().add(
                 {.name = "Payload/pipe", .mode = S_IFIFO | 0644, .method = ZipMethod::stored});
         },
         kSecurityCheckMessage},
        {"link with an absolute target",
         [](auto&) { return validBuild().addSymlink("Payload/l", "/etc"); }, kSecurityCheckMessage},
        {"link out of the tree",
         [](auto&) { return validBuild().addSymlink("Payload/l", "../../outside"); },
         kSecurityCheckMessage},
        {"link that leaves only through another link",
         [](auto&) {
             return validBuild()
                 .addSymlink("Payload/here", ".")
                 .addSymlink("Payload/l", "here/../..");
         },
         kSecurityCheckMessage},
        {"dangling link out of the tree",
         [](auto&) { return validBuild().addSymlink("Payload/l", "../../missing/x"); },
         kSecurityCheckMessage},
        {"link to a sibling sharing the root's name",
         [](auto&) { return validBuild().addSymlink("Payload/l", "../../dest2"); },
         kSecurityCheckMessage},
        {"write through a link",
         [](auto&) {
             return validBuild().addSymlink("Payload/l", "Demo.app").addFile("Payload/l/evil", "x");
         },
         kSecurityCheckMessage},
        {"write through a link named in another case",
         [](auto&) {
             return validBuild().addSymlink("Payload/L", "..").addFile("Payload/l/evil", "x");
         },
         kSecurityCheckMessage},
        {"link loop",
         [](auto&) {
             return validBuild().addSymlink("Payload/a", "b").addSymlink("Payload/b", "a");
         },
         kSecurityCheckMessage},
        {"non-ASCII name beside a link",
         [](auto&) {
             return validBuild()
                 .addSymlink("Payload/k", "Demo.app")
                 .addFile("Payload/\xE2\x84\xAA/evil", "x");  // KELVIN SIGN folds to k
         },
         kSecurityCheckMessage},
        {"declared sizes one byte over the limit",
         [](auto&) {
             return ZipBuilder()
                 .add({.name = "a", .method = ZipMethod::stored, .declaredSize = 0xFFFFFFFE})
                 .add({.name = "b", .method = ZipMethod::stored, .declaredSize = 0xFFFFFFFE})
                 .add({.name = "c", .data = "abcde", .method = ZipMethod::stored});
         },
         kTooLargeMessage},
        // Exactly at the limit the size check passes; the scan then finds the sizes are lies.
        {"declared sizes exactly at the limit",
         [](auto&) {
             return ZipBuilder()
                 .add({.name = "a", .method = ZipMethod::stored, .declaredSize = 0xFFFFFFFE})
                 .add({.name = "b", .method = ZipMethod::stored, .declaredSize = 0xFFFFFFFE})
                 .add({.name = "c", .data = "abcd", .method = ZipMethod::stored});
         },
         kSecurityCheckMessage},
        {"folder implied beyond the size limit",
         [](auto&) {
             return ZipBuilder()
                 .add({.name = "a", .method = ZipMethod::stored, .declaredSize = 0xFFFFFFFE})
                 .add({.name = "b", .method = ZipMethod::stored, .declaredSize = 0xFFFFFFFE})
                 .add({.name = "d/c", .data = "abcd", .method = ZipMethod::stored});
         },
         kTooLargeMessage},
        {"name over 1,024 bytes",
         [](auto&) { return validBuild().addFile("Payload/" + std::string(1017, 'n'), "x"); },
         kSecurityCheckMessage},
        {"name deeper than 64 folders",
         [](auto&) {
             std::string name = "Payload/";
             for (int level = 0; level < 63; ++level) {
                 name += "d/";
             }
             return validBuild().addFile(name + "f", "x");
         },
         kSecurityCheckMessage},
        {"more than 200,000 entries",
         [](auto&) {
             ZipBuilder zip = validBuild();
             for (int index = 0; index < 200'000; ++index) {
                 zip.add({.name = "Payload/" + std::to_string(index), .method = ZipMethod::stored});
             }
             return zip;
         },
         kSecurityCheckMessage},
        {"local extra field an extractor reads as a link",
         [](auto&) {
             return validBuild().add({.name = "Payload/f",
                                      .data = "x",
                                      .localExtra = ZipBuilder::extraField(0x6c78, "../../x")});
         },
         kSecurityCheckMessage},
        {"central Unix extra field carrying a mode",
         [](auto&) {
             return validBuild().add({.name = "Payload/f",
                                      .data = "x",
                                      .centralExtra = ZipBuilder::extraField(0x756e, "\xff\xa1")});
         },
         kSecurityCheckMessage},
        {"empty archive", [](auto&) { return ZipBuilder(); }, kEmptyBuildMessage},
        {"no app", [](auto&) { return ZipBuilder().addFile("Payload/readme.txt", "hello"); },
         kOneAppMessage},
        {"two apps",
         [](auto&) {
             ZipBuilder zip = validBuild();
             for (const auto& file : AppBundleBuilder("Other.app").files()) {
                 zip.addFile("Payload/" + file.path, file.contents, file.permissions);
             }
             return zip;
         },
         kOneAppMessage},
    };
    for (const AttackCase& attack : cases) {
        SCOPED_TRACE(attack.name);
        const fs::path archive = scratch.path() / "artifact.zip";
        const fs::path destination = scratch.path() / "dest";
        attack.archive(scratch.path()).writeTo(archive);
        try {
            security.extractSecurely(archive, destination, {});
            ADD_FAILURE() << "accepted";
        } catch (const QuayletError& error) {
            ASSERT_NE(error.as<QuayletError::UnsafeArchive>(), nullptr) << error.what();
            EXPECT_EQ(error.errorDescription(), attack.message);
        }
        EXPECT_FALSE(fs::exists(fs::symlink_status(destination)));
        EXPECT_EQ(everythingUnder(scratch.path()), std::vector<fs::path>{archive});
        fs::remove_all(destination);  // one accepted case must not fail the next ones
        fs::remove(archive);
    }
}

bool scanAccepts(const ZipBuilder& zip) {
    const std::string bytes = zip.bytes();
    try {
        preflightZipArchive({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                            {});
        return true;
    } catch (const QuayletError& error) {
        EXPECT_EQ(error.errorDescription(), kSecurityCheckMessage);
        return false;
    }
}

// Small entries are inflated whole and large ones streamed; both must hold the data to its
// declared size exactly, one byte either way included.
TEST(ZipPreflightTest, DataMustYieldExactlyTheDeclaredSize) {
    const std::string small(6, 'x');
    const std::string large(65 * 1024 * 1024, '\0');
    const struct {
        const std::string* data;
        std::optional<std::uint32_t> declared;
        bool accepted;
    } cases[] = {
        {&small, std::nullopt, true},
        {&small, 5, false},
        {&small, 7, false},
        {&large, std::nullopt, true},
        {&large, static_cast<std::uint32_t>(large.size() - 1), false},
        {&large, static_cast<std::uint32_t>(large.size() + 1), false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.data->size());
        EXPECT_EQ(scanAccepts(ZipBuilder().add(
                      {.name = "f", .data = *testCase.data, .declaredSize = testCase.declared})),
                  testCase.accepted);
    }
}

// The limits on names are inclusive, and the fields that only carry times, owners, sizes or
// an agreeing name pass in either header.
TEST(ZipPreflightTest, AcceptsNamesAtTheLimitsAndHarmlessExtraFields) {
    std::string deepest;
    for (int level = 0; level < 63; ++level) {
        deepest += "d/";
    }
    const ZipEntry cases[] = {
        {.name = std::string(1024, 'n')},
        {.name = deepest + "f"},
        {.name = "f", .localExtra = ZipBuilder::extraField(0x5455, std::string("\x01UTC!"))},
        {.name = "f", .centralExtra = ZipBuilder::extraField(0x7875, "\x01\x04uid!\x04gid!")},
        {.name = "f", .localExtra = ZipBuilder::extraField(0x000a, std::string(32, '\0'))},
        {.name = "f", .unicodePath = "f"},
    };
    for (const ZipEntry& entry : cases) {
        SCOPED_TRACE(&entry - cases);
        EXPECT_TRUE(scanAccepts(ZipBuilder().add(entry)));
    }
}

// Cancel reaches the scan before it judges anything, so a hostile archive cannot hold it up.
TEST(ZipPreflightTest, StopRequestWinsOverEveryCheck) {
    std::stop_source stopped;
    stopped.request_stop();
    const std::string bytes = ZipBuilder().addFile("../escape", "x").bytes();
    EXPECT_THROW(
        preflightZipArchive({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                            stopped.get_token()),
        CancellationError);
}

TEST(ZipPreflightTest, SurvivesEveryTruncationAndSingleByteCorruption) {
    const std::string archive =
        validBuild()
            .addSymlink("Payload/link", "Demo.app")
            .add({.name = "Payload/late", .data = "abc", .dataDescriptor = true})
            .bytes();
    const auto scan = [](const std::string& bytes) {
        try {
            preflightZipArchive({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                                {});
        } catch (const QuayletError& error) {
            EXPECT_NE(error.as<QuayletError::UnsafeArchive>(), nullptr);
        }
    };
    for (std::size_t length = 0; length < archive.size(); ++length) {
        scan(archive.substr(0, length));
    }
    for (std::size_t index = 0; index < archive.size(); ++index) {
        std::string corrupted = archive;
        corrupted[index] = static_cast<char>(corrupted[index] ^ 0xFF);
        scan(corrupted);
    }
}

}  // namespace
}  // namespace quaylet
