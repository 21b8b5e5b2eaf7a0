#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "hosttools/ToolProcess.h"
#include "hosttools/ZipArchive.h"
#include "hosttools/ZipFixture.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {
namespace {

using Kind = ZipEntrySpec::Kind;

std::string readFile(const std::filesystem::path& file) {
    std::ifstream input(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(input), {}};
}

mode_t modeOf(const std::filesystem::path& file) {
    struct stat status {};
    EXPECT_EQ(::lstat(file.c_str(), &status), 0) << file;
    return status.st_mode;
}

class ZipToolsTest : public ::testing::Test {
  protected:
    std::filesystem::path archive(const std::vector<ZipEntrySpec>& entries) {
        const std::filesystem::path file = folder_.path() / "archive.zip";
        writeZip(file, entries);
        return file;
    }
    ToolResult run(const std::string& tool, const std::vector<std::string>& arguments) {
        return runTool(tool, arguments, folder_.path() / "simulator");
    }
    ToolResult ditto(const std::filesystem::path& zip, const std::filesystem::path& destination) {
        return run("ditto", {"-x", "-k", "--noqtn", zip.string(), destination.string()});
    }
    TemporaryDirectory folder_;
};

TEST_F(ZipToolsTest, ZipinfoListsTheStoredNamesInOrder) {
    const std::vector<std::string> names{"Payload/",
                                         "Payload/Demo.app/",
                                         "Payload/Demo.app/Info.plist",
                                         "Payload/z-last-but-listed-first",
                                         "Payload/a-first",
                                         "caf\xe9"
                                         " latin-1.txt",
                                         "\xc3\x9cn\xc3\xaf"
                                         "code/\xe6\x97\xa5\xe6\x9c\xac.txt",
                                         "with space/and\ttab"};
    std::vector<ZipEntrySpec> entries;
    for (const std::string& name : names) {
        entries.push_back({name, name.ends_with("/") ? Kind::directory : Kind::file, "x"});
    }
    const ToolResult result = run("zipinfo", {"-1", archive(entries).string()});
    ASSERT_EQ(result.status, 0) << result.standardError;
    std::string expected;
    for (const std::string& name : names) {
        expected += name + "\n";
    }
    EXPECT_EQ(result.standardOutput, expected);
}

TEST_F(ZipToolsTest, ZipinfoRefusesWhatIsNotAZipArchive) {
    const std::filesystem::path good = archive({{"a.txt", Kind::file, std::string(5000, 'a')}});
    const std::string bytes = readFile(good);
    const std::filesystem::path truncated = folder_.path() / "truncated.zip";
    std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    const std::filesystem::path text = folder_.path() / "text.zip";
    std::ofstream(text) << "just some text, long enough to look like something\n";

    for (const std::filesystem::path& file :
         {truncated, text, folder_.path() / "missing.zip", folder_.path()}) {
        SCOPED_TRACE(file);
        const ToolResult result = run("zipinfo", {"-1", file.string()});
        EXPECT_EQ(result.status, 9);
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_EQ(result.standardError.rfind("zipinfo: ", 0), 0u) << result.standardError;
    }
}

TEST_F(ZipToolsTest, DittoExtractsFilesFoldersAndLinks) {
    const std::filesystem::path zip = archive({
        {"Payload/", Kind::directory, "", 0755},
        {"Payload/Demo.app/", Kind::directory, "", 0755},
        {"Payload/Demo.app/Demo", Kind::file, "#!/bin/sh\n", 0755},
        {"Payload/Demo.app/Info.plist", Kind::file, "<plist/>", 0644},
        {"Payload/Demo.app/Helper", Kind::file, "setuid", 06755},
        {"Payload/Demo.app/Current", Kind::symlink, "Demo"},
        // Links may point anywhere; judging where they lead is the caller's check, after
        // extraction.
        {"Payload/Demo.app/Up", Kind::symlink, "../../.."},
    });
    const std::filesystem::path destination = folder_.path() / "out" / "nested";
    const ToolResult result = ditto(zip, destination);
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput, "");

    const std::filesystem::path app = destination / "Payload" / "Demo.app";
    EXPECT_EQ(readFile(app / "Demo"), "#!/bin/sh\n");
    EXPECT_EQ(readFile(app / "Info.plist"), "<plist/>");
    EXPECT_TRUE(modeOf(app / "Demo") & S_IXUSR);
    EXPECT_EQ(modeOf(app / "Helper") & (S_ISUID | S_ISGID | S_ISVTX), 0u);
    EXPECT_TRUE(modeOf(app / "Helper") & S_IXUSR);
    EXPECT_EQ(std::filesystem::read_symlink(app / "Current"), "Demo");
    EXPECT_EQ(std::filesystem::read_symlink(app / "Up"), "../../..");
}

TEST_F(ZipToolsTest, DittoRefusesUnsafeArchives) {
    const std::filesystem::path outside = folder_.path() / "outside";
    std::filesystem::create_directories(outside);
    const std::filesystem::path destination = folder_.path() / "out";

    struct Case {
        const char* label;
        std::vector<ZipEntrySpec> entries;
        std::optional<std::pair<ZipField, std::uint32_t>> patch;  // applied to "victim"
        std::filesystem::path mustNotExist;
    };
    const std::string data(100, 'd');
    const Case cases[] = {
        {"a .. entry", {{"../escaped.txt", Kind::file, data}}, {}, folder_.path() / "escaped.txt"},
        {"an absolute entry",
         {{(outside / "absolute.txt").string(), Kind::file, data}},
         {},
         outside / "absolute.txt"},
        {"a write through a symbolic link",
         {{"link", Kind::symlink, outside.string()}, {"link/pwned.txt", Kind::file, data}},
         {},
         outside / "pwned.txt"},
        {"data longer than declared",
         {{"victim", Kind::file, data}},
         std::pair{ZipField::uncompressedSize, 10u},
         {}},
        {"data shorter than declared",
         {{"victim", Kind::file, data}},
         std::pair{ZipField::uncompressedSize, 1000u},
         {}},
        {"a block device",
         {{"victim", Kind::file, data}},
         std::pair{ZipField::unixMode, static_cast<std::uint32_t>(S_IFBLK | 0644)},
         destination / "victim"},
        {"a socket",
         {{"victim", Kind::file, data}},
         std::pair{ZipField::unixMode, static_cast<std::uint32_t>(S_IFSOCK | 0644)},
         destination / "victim"},
        {"a character device",
         {{"victim", Kind::file, data}},
         std::pair{ZipField::unixMode, static_cast<std::uint32_t>(S_IFCHR | 0644)},
         destination / "victim"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(destination);
        const std::filesystem::path zip = archive(c.entries);
        if (c.patch) {
            patchZipEntry(zip, "victim", c.patch->first, c.patch->second);
        }
        const ToolResult result = ditto(zip, destination);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.standardError.rfind("ditto: ", 0), 0u) << result.standardError;
        if (!c.mustNotExist.empty()) {
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(c.mustNotExist)));
        }
    }
}

TEST_F(ZipToolsTest, ExtractionStopsAtTheByteLimit) {
    const std::filesystem::path zip = archive(
        {{"a.bin", Kind::file, std::string(60, 'a')}, {"b.bin", Kind::file, std::string(60, 'b')}});
    const std::filesystem::path destination = folder_.path() / "out";
    EXPECT_NO_THROW(hosttools::extractZip(zip, destination, 120)) << "the limit itself is allowed";

    std::filesystem::remove_all(destination);
    try {
        hosttools::extractZip(zip, destination, 119);
        ADD_FAILURE() << "one byte over the limit must stop the extraction";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("extraction stopped"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(std::filesystem::file_size(destination / "b.bin"), 0u) << "nothing over the limit";
}

}  // namespace
}  // namespace quaylet::testing
