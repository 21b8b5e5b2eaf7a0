#include "core/artifacts/ArtifactSecurity.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "core/artifacts/AppInspector.h"
#include "core/artifacts/ArchiveRefusal.h"
#include "core/artifacts/InfoPlist.h"
#include "core/artifacts/ListingLines.h"
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
using namespace std::string_literals;
using fixtures::AppBundleBuilder;
using fixtures::ZipBuilder;
using fixtures::ZipEntry;
using enum fixtures::ZipMethod;

constexpr std::string_view kAccepted = "(accepted)";

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

std::string readFile(const fs::path& path) {
    std::ifstream input(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(input), {}};
}

// 63 folders: with a file below them, 64 components, the most a name may have.
const std::string kDeepFolders = std::regex_replace(std::string(63, 'd'), std::regex("d"), "d/");

// A refusal's sentence by what(), a failed command's status and details, or kAccepted.
std::string outcome(const std::function<void()>& action) {
    try {
        action();
    } catch (const QuayletError& error) {
        if (const auto* failed = error.as<QuayletError::CommandFailed>()) {
            return "failed " + std::to_string(failed->status) + ": " + failed->details;
        }
        return error.what();
    }
    return std::string(kAccepted);
}

std::string scanOutcome(const std::string& bytes) {
    return outcome([&] {
        preflightZipArchive({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                            {});
    });
}

ZipEntry file(std::string name, std::string data = "x") {
    return {.name = std::move(name), .data = std::move(data)};
}

constexpr auto* link = &ZipBuilder::symlink;
constexpr auto* extra = &ZipBuilder::extraField;

// An entry whose headers may claim a size its data does not have.
ZipEntry sized(std::string data, std::uint64_t declared, std::string name = "Payload/f") {
    return {.name = std::move(name),
            .data = std::move(data),
            .declaredSize = static_cast<std::uint32_t>(declared)};
}

// A deflate stream of stored blocks, the last one final unless it says otherwise; a block's
// length complement can be spoilt. With the empty final block of fixed codes ("\x03\x00")
// after them, the stream holds another kind of block too.
std::string storedBlocks(const std::vector<std::string>& blocks, bool endsFinal = true,
                         std::uint16_t complementFlip = 0) {
    std::string stream;
    for (const std::string& block : blocks) {
        const bool final = endsFinal && &block == &blocks.back();
        const auto length = static_cast<std::uint16_t>(block.size());
        const auto complement = static_cast<std::uint16_t>(~length ^ complementFlip);
        stream += {static_cast<char>(final ? 1 : 0), static_cast<char>(length & 0xFF),
                   static_cast<char>(length >> 8), static_cast<char>(complement & 0xFF),
                   static_cast<char>(complement >> 8)};
        stream += block;
    }
    return stream;
}

// Long enough that the scan reads its block headers from the file instead of the mapping.
const std::string kLongStoredBlocks = storedBlocks(std::vector(17, std::string(65535, 'm')));
constexpr std::uint64_t kLongStoredSize = 17 * 65535;

ZipEntry deflatedAs(std::string stream, std::uint64_t declared) {
    return {.name = "Payload/f",
            .declaredSize = static_cast<std::uint32_t>(declared),
            .deflated = std::move(stream)};
}

// A build that passes every check, so each case adds exactly one problem to it.
ZipBuilder validBuild(const std::vector<ZipEntry>& extra = {}) {
    ZipBuilder zip;
    zip.addBundle(AppBundleBuilder(), "Payload/");
    for (const ZipEntry& entry : extra) {
        zip.add(entry);
    }
    return zip;
}

class ArtifactSecurityTest : public ::testing::Test {
  protected:
    testing::TemporaryDirectory scratch;
    testing::ScriptedTools fallback;
    ArtifactSecurity security{ProcessRunner(), testing::archiveToolsForTests(fallback)};
    const fs::path archive = scratch.path() / "artifact.zip";
    const fs::path destination = scratch.path() / "dest";
};
class ArchiveAttackTest : public ArtifactSecurityTest {};
class ZipPreflightTest : public ArtifactSecurityTest {};

// Each must be refused with the right sentence, leave nothing outside the destination and
// leave no destination behind.
TEST_F(ArchiveAttackTest, EveryHostileArchiveIsRefusedWithoutTouchingTheDisk) {
    const std::string streamed(9 << 20, '\0');  // past the size inflated in one buffer
    const ZipBuilder huge =
        ZipBuilder().add(sized("", 0xFFFFFFFE, "a")).add(sized("", 0xFFFFFFFE, "b"));
    std::vector<ZipEntry> tooMany;
    for (int index = 0; index < 200'000; ++index) {
        tooMany.push_back({.name = std::to_string(index), .method = stored});
    }
    const struct {
        const char* name;
        ZipBuilder zip;
        std::string_view message = kSecurityCheckMessage;
    } cases[] = {
        {"deep traversal", validBuild({file("Payload/../../escape")})},
        {"absolute name", validBuild({file((scratch.path() / "absolute-escape").string())})},
        {"home folder name", validBuild({file("~/escape")})},
        {"backslash traversal", validBuild({file("..\\escape")})},
        {"delete character", validBuild({file("Payload/a\x7f")})},
        {"line feed splits the listing", validBuild({file("Payload/a\n../../escape")})},
        {"line separator", validBuild({file("Payload/a\xE2\x80\xA8z")})},
        {"invalid UTF-8", validBuild({file("Payload/\xff")})},
        {"central and local names differ",
         validBuild({{.name = "Payload/f", .localName = "../escape"}})},  // the same length
        {"Unicode path field differs", validBuild({{.name = "f", .unicodePath = "../../escape"}})},
        {"local size differs", validBuild({{.name = "f", .data = "hi", .localDeclaredSize = 1}})},
        {"local method differs",
         validBuild({{.name = "f", .method = stored, .localMethod = deflated}})},
        {"inflated whole, one byte short", validBuild({sized("xy", 3)})},
        {"inflated whole, one byte over", validBuild({sized("xy", 1)})},
        {"streamed, one byte short", validBuild({sized(streamed, streamed.size() + 1)})},
        {"streamed, one byte over", validBuild({sized(streamed, streamed.size() - 1)})},
        {"stored blocks, one byte short", validBuild({deflatedAs(storedBlocks({"ab", "c"}), 4)})},
        {"stored blocks, one byte over", validBuild({deflatedAs(storedBlocks({"ab", "c"}), 2)})},
        {"stored, then fixed codes, one byte over",
         validBuild({deflatedAs(storedBlocks({"ab"}, false) + "\x03\x00"s, 1)})},
        {"stored block length not complemented",
         validBuild({deflatedAs(storedBlocks({"ab"}, true, 0x0100), 2)})},
        {"block of fixed codes laid out as a stored one",
         validBuild({deflatedAs("\x03"s + storedBlocks({"ab"}).substr(1), 2)})},
        {"no final stored block", validBuild({deflatedAs(storedBlocks({"ab"}, false), 2)})},
        {"data after the final stored block",
         validBuild({deflatedAs(storedBlocks({"ab"}) + "c", 2)})},
        {"stored block longer than the data",
         validBuild({deflatedAs(storedBlocks({"abc"}).substr(0, 6), 3)})},
        {"long stored blocks, one byte short",
         validBuild({deflatedAs(kLongStoredBlocks, kLongStoredSize + 1)})},
        {"data after long stored blocks",
         validBuild({deflatedAs(kLongStoredBlocks + "c", kLongStoredSize)})},
        {"overlapping entries", validBuild({{.name = "outer", .data = "abc", .method = stored},
                                            {.name = "inner", .nestedInPrevious = true}})},
        {"stored data hiding a data descriptor",
         validBuild({{.name = "f",
                      .data = std::string("PK\x07\x08", 4) + "fake",
                      .method = stored,
                      .dataDescriptor = true}})},
        {"leading junk", validBuild().junk("MZ", "")},
        {"trailing junk", validBuild().junk("", "j")},
        {"names differing only in case", validBuild({file("Payload/R"), file("payload/r")})},
        {"entry below a file", validBuild({file("Payload/x"), file("Payload/x/y")})},
        {"character device", validBuild({{.name = "tty", .mode = S_IFCHR | 0644}})},
        {"link with an absolute target", validBuild({link("Payload/l", "/etc")})},
        {"link that leaves only through another link",
         validBuild({link("Payload/here", "."), link("Payload/l", "here/../..")})},
        {"write through a link named in another case",
         validBuild({link("Payload/L", ".."), file("Payload/l/evil")})},
        {"link loop", validBuild({link("Payload/a", "b"), link("Payload/b", "a")})},
        // KELVIN SIGN folds to k.
        {"non-ASCII name beside a link",
         validBuild({link("Payload/k", "Demo.app"), file("Payload/\xE2\x84\xAA/evil")})},
        {"declared sizes one byte over the limit", ZipBuilder(huge).add(file("c", "abcde")),
         kTooLargeMessage},
        // Exactly at the limit the size check passes; the scan then finds the sizes are lies.
        {"declared sizes exactly at the limit", ZipBuilder(huge).add(file("c", "abcd"))},
        {"folder implied beyond the size limit", ZipBuilder(huge).add(file("d/c", "abcd")),
         kTooLargeMessage},
        {"name over 1,024 bytes", validBuild({file("Payload/" + std::string(1017, 'n'))})},
        {"name deeper than 64 folders", validBuild({file("Payload/" + kDeepFolders + "f")})},
        {"more than 200,000 entries", validBuild(tooMany)},
        {"local extra field an extractor reads as a link",
         validBuild({{.name = "f", .localExtra = extra(0x6c78, "../../x")}})},
        {"central extra field an extractor reads as a link",
         validBuild({{.name = "f", .centralExtra = extra(0x756e, "../../x")}})},
        {"empty archive", ZipBuilder(), kEmptyBuildMessage},
        {"no app", ZipBuilder().add(file("Payload/readme.txt")), kOneAppMessage},
        {"two apps", validBuild().addBundle(AppBundleBuilder("Other.app"), "Payload/"),
         kOneAppMessage},
    };
    for (const auto& attack : cases) {
        SCOPED_TRACE(attack.name);
        attack.zip.writeTo(archive);
        if (attack.message != kOneAppMessage) {  // the scan alone must refuse, not a later check
            EXPECT_EQ(scanOutcome(readFile(archive)), attack.message);
        }
        EXPECT_EQ(outcome([&] { security.extractSecurely(archive, destination, {}); }),
                  attack.message);
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(scratch.path()), {}), 1)
            << "only the archive stays";
    }
}

// The limits on names are inclusive, the fields that only carry times, owners or an agreeing
// name pass in either header, and an entry too large to inflate in one buffer streams.
TEST_F(ZipPreflightTest, AcceptsNamesAtTheLimitsAndHarmlessExtraFields) {
    const ZipEntry cases[] = {
        {.name = std::string(1024, 'n')},
        {.name = kDeepFolders + "f"},
        {.name = "f", .localExtra = extra(0x000a, std::string(32, '\0'))},
        {.name = "f", .unicodePath = "f"},
        {.name = "..a/.../x./.x"},  // dots that climb nowhere
        {.name = "f", .data = std::string(9 << 20, '\0')},
        deflatedAs(storedBlocks({"ab", "", "c"}), 3),
        deflatedAs(storedBlocks({"ab"}, false) + "\x03\x00"s, 2),
    };
    for (const ZipEntry& entry : cases) {
        SCOPED_TRACE(&entry - cases);
        EXPECT_EQ(scanOutcome(ZipBuilder().add(entry).bytes()), kAccepted);
    }
}

// Cancel reaches the scan before it judges anything, so a hostile archive cannot hold it up,
// and inside an entry as it inflates: 4 GiB of zeros that claim one byte more, so a scan that
// waited for the entry's end would refuse the lie instead.
TEST_F(ZipPreflightTest, StopRequestWinsOverEveryCheck) {
    std::stop_source stopped;
    stopped.request_stop();
    ZipBuilder().add(file("../escape")).writeTo(archive);
    EXPECT_THROW(security.extractSecurely(archive, destination, stopped.get_token()),
                 CancellationError);

    const std::uint32_t size = 4095U << 20;
    ZipBuilder()
        .add({.name = "a", .declaredSize = size + 1, .deflated = ZipBuilder::deflatedZeros(size)})
        .writeTo(archive);
    std::stop_source user;
    std::exception_ptr ended;
    std::atomic<bool> finished = false;
    std::thread scanning([&] {
        try {
            preflightZipFile(archive, user.get_token());
        } catch (...) {
            ended = std::current_exception();
        }
        finished = true;
    });
    // Under way once the archive is mapped.
    for (std::string maps; !finished && maps.find(archive.string()) == std::string::npos;) {
        std::ifstream file("/proc/self/maps");
        maps.assign(std::istreambuf_iterator<char>(file), {});
    }
    user.request_stop();
    scanning.join();
    ASSERT_TRUE(ended) << "the scan ran to its end";
    EXPECT_THROW(std::rethrow_exception(ended), CancellationError);
}

// A digest is accepted in either case; a wrong one deletes the file it was checked against.
TEST_F(ArtifactSecurityTest, DigestsMatchTheSystemToolAndAMismatchDeletesTheFile) {
    // Crosses several read pieces and ends inside one.
    writeFile(archive, std::string(3 * ArtifactSecurity::kDigestChunkSize + 17, 'q'));
    std::string digest = ProcessRunner()
                             .runChecked({"/usr/bin/sha256sum", {archive}}, {})
                             .standardOutput.substr(0, 64);
    std::ranges::transform(digest, digest.begin(), ::toupper);
    EXPECT_NO_THROW(security.verify(archive, digest, {}));
    EXPECT_EQ(outcome([&] { security.verify(archive, std::string(64, '0'), {}); }),
              QuayletError::checksumMismatch("", "").errorDescription());
    EXPECT_FALSE(fs::exists(archive));
    EXPECT_THROW(security.sha256(scratch.path() / "missing", {}), fs::filesystem_error);
}

// The listing's names face the rule the scan applies (see the attack table).
TEST(ArchiveListingTest, EveryLineBreakSplitsAndTheNamesMustStayBelowTheDestination) {
    EXPECT_EQ(outcome([] { ArtifactSecurity::validateArchiveEntries({}); }), kEmptyBuildMessage);
    EXPECT_EQ(outcome([] {
                  ArtifactSecurity::validateArchiveEntries({"Payload/ok", "Payload/.."});
              }),
              kSecurityCheckMessage);
    const std::vector<std::string> expected{"a", " b ", "c"};
    for (const std::string separator :
         {"\n", "\r", "\r\n", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
        EXPECT_EQ(
            splitListingLines("a" + separator + " b " + separator + separator + "c" + separator),
            expected)
            << separator;
    }
    EXPECT_EQ(splitListingLines("\xE2\x80"), std::vector<std::string>{"\xE2\x80"});
}

// The Linux stand-in never writes setuid, setgid or sticky bits, while the Mac's ditto keeps
// them; bsdtar keeps what it can and the script puts back what it drops for a user who may
// not own the file as the archive says, failing when the bits do not stick. Behind a ditto
// that fails part-way or lies, the checks on the unpacked tree stand guard and no destination
// stays.
TEST_F(ArtifactSecurityTest, ExtractsTheOneAppAndReplacesTheOldDestination) {
    const fs::path outside = scratch.path() / "outside";
    fs::create_directories(outside);
    const std::string unpack = "/usr/bin/bsdtar -x -p -f \"$4\" -C \"$5\" && ";
    const std::pair<std::optional<std::string>, std::string_view> extractors[] = {
        {std::nullopt, kAccepted},
        {unpack + "cd \"$5/Payload/Demo.app\" && chmod 6755 tool && chmod 1755 Watch && "
                  "test -u tool && test -g tool && test -k Watch",
         kAccepted},
        {unpack + "ln -s " + outside.string() + " \"$5/Payload/out\"", kSecurityCheckMessage},
    };
    // Apps inside packages, and a folder whose extension differs in case, are not apps.
    validBuild({file("Payload/Demo.app/Watch/Watch.app/Info.plist", "nested"),
                file("Payload/Kit.framework/Inner.app/Info.plist"),
                file("Payload/Upper.APP/Info.plist"),
                {.name = "Payload/Demo.app/tool", .mode = S_IFREG | 06755},
                link("Payload/Demo.app/Current", "Watch/../Info.plist"),
                {.name = "Payload/Demo.app/late",
                 .data = "sizes after the data",
                 .method = stored,
                 .dataDescriptor = true},
                {.name = "Payload/Demo.app/media",  // the data gives the checksum
                 .data = std::string(kLongStoredSize, 'm'),
                 .deflated = kLongStoredBlocks}})
        .writeTo(archive);
    for (const auto& [ditto, expected] : extractors) {
        SCOPED_TRACE(ditto.value_or("the stand-in"));
        testing::ScriptedTools scripted;
        scripted.add("zipinfo", "exec /usr/bin/zipinfo \"$@\"");
        scripted.add("ditto", ditto.value_or(""));
        const ArtifactSecurity extractor =
            ditto ? ArtifactSecurity(ProcessRunner(), scripted.tools()) : security;
        writeFile(destination / "stale", "old");
        writeFile(scratch.path() / ".dest.old-killed" / "stale", "left by a killed extraction");
        fs::path bundle;
        EXPECT_EQ(outcome([&] { bundle = extractor.extractSecurely(archive, destination, {}); }),
                  expected);
        EXPECT_FALSE(fs::exists(destination / "stale"));
        EXPECT_TRUE(fs::is_empty(outside));
        // The old destination is deleted beside the extraction, not left beside it, and so is
        // one that an earlier extraction left.
        EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), {}),
                  expected == kAccepted ? 3 : 2);
        if (expected != kAccepted) {
            EXPECT_FALSE(fs::exists(destination));
            continue;
        }
        EXPECT_EQ(readFile(bundle / "Current"), AppBundleBuilder().infoPlistBytes());
        EXPECT_EQ(readFile(bundle / "late"), "sizes after the data");
        EXPECT_EQ(readFile(bundle / "media"), std::string(kLongStoredSize, 'm'));
        for (const char* name : {"tool", "Watch"}) {
            EXPECT_EQ(fs::status(bundle / name).permissions(), fs::perms(0755)) << name;
        }
    }
}

// A remembered scan verdict spares inflating every entry again, so it may count only for the
// digest the caller has just verified.
TEST_F(ArtifactSecurityTest, AScanVerdictHoldsOnlyForTheDigestJustVerified) {
    const fs::path verdict = scratch.path() / ArtifactSecurity::kScanVerdictName;
    const auto extract = [&](std::optional<std::string> verified) {
        return outcome([&] { security.extractSecurely(archive, destination, {}, verified); });
    };
    // Only inflating shows that this entry is larger than it claims.
    validBuild(
        {{.name = "Payload/Demo.app/f", .data = std::string(100000, 'a'), .declaredSize = 10}})
        .writeTo(archive);
    const std::string lying = security.sha256(archive, {});
    // A verdict for other bytes, then a verdict but no digest verified.
    for (const auto& [remembered, verified] :
         {std::pair{std::string(64, '0'), std::optional(lying)}, {lying, std::nullopt}}) {
        writeFile(verdict, remembered + "\n");
        EXPECT_EQ(extract(verified), kSecurityCheckMessage);
        EXPECT_EQ(readFile(verdict), remembered + "\n") << "a refused archive earns no verdict";
    }

    fs::remove(verdict);
    validBuild().writeTo(archive);
    const std::string good = security.sha256(archive, {});
    EXPECT_EQ(extract(good), kAccepted);
    EXPECT_EQ(readFile(verdict), good + "\n");
}

// Its folder entries and zip64 extra fields are what a hand-made archive lacks.
TEST_F(ArtifactSecurityTest, AcceptsArchivesFromARealZipWriter) {
    const fs::path source = scratch.path() / "source";
    AppBundleBuilder().writeInto(source / "Payload");
    fs::create_symlink("Info.plist", source / "Payload" / "Demo.app" / "Alias.plist");
    ProcessRunner().runChecked({"/usr/bin/bsdtar",
                                {"-c", "--format", "zip", "--options", "zip:zip64", "-f", archive,
                                 "-C", source, "Payload"}},
                               {});
    const fs::path bundle = security.extractSecurely(archive, destination, {});
    EXPECT_EQ(fs::read_symlink(bundle / "Alias.plist"), "Info.plist");
}

// Every row adds one link, l, to a tree holding a/file and a/up -> .. beside a sibling folder
// whose name begins with the tree's; the tree is checked through a link to it.
TEST_F(ArtifactSecurityTest, TreeChecksFollowLinksOnDiskComponentByComponent) {
    const fs::path root = scratch.path() / "app";
    writeFile(root / "a" / "file", "x");
    fs::create_symlink("..", root / "a" / "up");
    fs::create_directories(scratch.path() / "app2");
    fs::create_symlink(root, scratch.path() / "alias");
    const auto check = [&] {
        return outcome([&] { security.validateExtractedTree(scratch.path() / "alias"); });
    };
    const struct {
        std::string target;
        std::string_view outcome;
    } cases[] = {
        {"a/up/a", kAccepted},
        {"missing/x", kAccepted},
        {"../app2", kSecurityCheckMessage},
        {(root / "a" / "file").string(), kSecurityCheckMessage},
        {"a/up/..", kSecurityCheckMessage},
        {"l", kSecurityCheckMessage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        fs::create_symlink(c.target, root / "l");
        EXPECT_EQ(check(), c.outcome);
        fs::remove(root / "l");
    }
    ASSERT_EQ(::mkfifo((root / "pipe").c_str(), 0644), 0);
    EXPECT_EQ(check(), kSecurityCheckMessage);
    fs::remove(root / "pipe");

    // With a/file's byte the sizes add up to exactly the limit, then to one byte over it.
    writeFile(root / "big", "");
    fs::resize_file(root / "big", kExtractedTreeLimit / 2);
    writeFile(root / "a" / "big", "");
    fs::resize_file(root / "a" / "big", kExtractedTreeLimit / 2 - 1);
    EXPECT_EQ(check(), kAccepted);
    fs::resize_file(root / "a" / "big", kExtractedTreeLimit / 2);
    EXPECT_EQ(check(), kTooLargeMessage);

    EXPECT_EQ(outcome([&] { security.validateExtractedTree(scratch.path() / "missing"); }),
              kCannotInspectMessage);
}

// Spelt out here, not taken from the product's constants, so that the sentences stay checked.
constexpr const char* kMissingInformation =
    "This build is missing app information. Rebuild it in GitHub Actions, then try again.";
constexpr const char* kMissingIdentifier =
    "This build is missing an app identifier. Check the target settings, then rebuild it.";
constexpr const char* kMissingExecutableName =
    "This build is missing its executable name. Check the target settings, then rebuild it.";

class AppInspectorTest : public ArtifactSecurityTest {
  protected:
    AppInspector inspectorPrinting(const std::string& lipoOutput) {
        lipo.add("lipo", "printf '" + lipoOutput + "'");
        return AppInspector(ProcessRunner(), lipo.tools());
    }

    testing::ScriptedTools lipo;
};

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
    EXPECT_EQ(outcome([&] { inspectorPrinting(" \\n\\t").inspect(bundle, {}); }),
              "This build contains no code that can run in Simulator on this Mac.");
}

// A row's Info.plist bytes, when given, replace the builder's file.
TEST_F(AppInspectorTest, FirstFailingCheckDecides) {
    const AppInspector inspector = inspectorPrinting("arm64\\n");
    using App = AppBundleBuilder;
    const struct {
        const char* name;
        AppBundleBuilder app;
        const char* message;
        std::optional<std::string> infoPlist = std::nullopt;
    } cases[] = {
        {"extension is case-sensitive", App("Demo.APP"), "Choose a valid iOS Simulator build."},
        {"Info.plist empty", App(), kMissingInformation, ""},
        {"Info.plist holds an array", App(), kMissingInformation,
         "<?xml version=\"1.0\"?><plist><array/></plist>"},
        {"identifier is a number", App().set("CFBundleIdentifier", std::int64_t{4}),
         kMissingIdentifier},
        {"identifier is empty", App().bundleIdentifier(""), kMissingIdentifier},
        {"identifier is an option", App().bundleIdentifier("--terminate-running-process"),
         kMissingIdentifier},
        {"identifier starts with a dot", App().bundleIdentifier(".example"), kMissingIdentifier},
        {"identifier holds a space", App().bundleIdentifier("com.example. Demo"),
         kMissingIdentifier},
        {"identifier too long", App().bundleIdentifier(std::string(256, 'a')), kMissingIdentifier},
        {"executable name missing", App().remove("CFBundleExecutable"), kMissingExecutableName},
        {"executable name leaves the bundle",
         App().set("CFBundleExecutable", std::string("../../bin/sh")), kMissingExecutableName},
        {"executable not executable, later keys broken too",
         App().executablePermissions(0644).remove("MinimumOSVersion"),
         "This build is incomplete and can’t run. Rebuild it in GitHub Actions, then try again."},
        {"platform in another case", App().platforms({"iphonesimulator"}),
         "This build doesn’t target iOS Simulator. Update the GitHub workflow, then rebuild it."},
        {"minimum version v17", App().minimumOSVersion("v17"),
         "This build has no valid minimum iOS version. Check the target settings, then rebuild "
         "it."},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        testing::TemporaryDirectory folder;
        const fs::path bundle = testCase.app.writeInto(folder.path());
        if (testCase.infoPlist) {
            std::ofstream(bundle / "Info.plist", std::ios::trunc) << *testCase.infoPlist;
        }
        EXPECT_EQ(outcome([&] { inspector.inspect(bundle, {}); }), testCase.message);
    }
    EXPECT_EQ(outcome([&] { inspector.inspect(scratch.path() / "Missing.app", {}); }),
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
