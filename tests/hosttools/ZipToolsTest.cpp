#include <sys/stat.h>

#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "fixtures/ZipBuilder.h"
#include "hosttools/HostToolTest.h"
#include "hosttools/ZipArchive.h"

namespace quaylet::testing {
namespace {

using fixtures::ZipEntry;

// An entry stored uncompressed, as the tests compare the tools' output with its bytes; a
// declared size other than the data's makes an archive that lies.
ZipEntry entry(std::string name, mode_t mode, std::string data = "",
               std::optional<std::uint32_t> declaredSize = std::nullopt) {
    return {.name = std::move(name),
            .data = std::move(data),
            .mode = mode,
            .method = fixtures::ZipMethod::stored,
            .declaredSize = declaredSize};
}
ZipEntry file(std::string name, std::string data, mode_t permissions = 0644) {
    return entry(std::move(name), S_IFREG | permissions, std::move(data));
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream input(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(input), {}};
}

mode_t modeOf(const std::filesystem::path& file) {
    struct stat status {};
    EXPECT_EQ(::lstat(file.c_str(), &status), 0) << file;
    return status.st_mode;
}

class ZipToolsTest : public HostToolTest {
  protected:
    std::filesystem::path archive(const std::vector<ZipEntry>& entries) {
        const std::filesystem::path zip = folder.path() / "archive.zip";
        fixtures::ZipBuilder builder;
        for (const ZipEntry& entry : entries) {
            builder.add(entry);
        }
        builder.writeTo(zip);
        return zip;
    }
    static ProcessResult ditto(const std::filesystem::path& zip,
                               const std::filesystem::path& destination) {
        return run("ditto", {"-x", "-k", "--noqtn", zip.string(), destination.string()});
    }
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
    std::vector<ZipEntry> entries;
    for (const std::string& name : names) {
        entries.push_back(name.ends_with("/") ? entry(name, S_IFDIR | 0755) : file(name, "x"));
    }
    const std::filesystem::path zip = archive(entries);
    const ProcessResult result = run("zipinfo", {"-1", zip.string()});
    ASSERT_EQ(result.status, 0) << result.standardError;
    std::string expected;
    for (const std::string& name : names) {
        expected += name + "\n";
    }
    // The runner reads output as UTF-8: the Latin-1 byte arrives as U+FFFD.
    EXPECT_EQ(result.standardOutput,
              std::regex_replace(expected, std::regex("\xe9"), "\xef\xbf\xbd"));

    const std::string bytes = readFile(zip);
    std::ofstream(zip, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    const ProcessResult truncated = run("zipinfo", {"-1", zip.string()});
    EXPECT_EQ(truncated.status, 9);
    EXPECT_TRUE(truncated.standardError.starts_with("zipinfo: ")) << truncated.standardError;
}

TEST_F(ZipToolsTest, DittoExtractsFilesFoldersAndLinks) {
    const std::filesystem::path zip = archive({
        entry("Payload/", S_IFDIR | 0755),
        entry("Payload/Demo.app/", S_IFDIR | 0755),
        file("Payload/Demo.app/Demo", "#!/bin/sh\n", 0755),
        file("Payload/Demo.app/Info.plist", "<plist/>"),
        file("Payload/Demo.app/Helper", "setuid", 06755),
        entry("Payload/Demo.app/Current", S_IFLNK | 0777, "Demo"),
        // Links may point anywhere; judging where they lead is the caller's check, after
        // extraction.
        entry("Payload/Demo.app/Up", S_IFLNK | 0777, "../../.."),
    });
    const std::filesystem::path destination = folder.path() / "out" / "nested";
    const ProcessResult result = ditto(zip, destination);
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
    const std::filesystem::path outside = folder.path() / "outside";
    std::filesystem::create_directories(outside);
    const std::filesystem::path destination = folder.path() / "out";

    const std::string data(100, 'd');
    const struct {
        const char* label;
        std::vector<ZipEntry> entries;
        std::filesystem::path mustNotExist;
    } cases[] = {
        {"a .. entry", {file("../escaped.txt", data)}, folder.path() / "escaped.txt"},
        {"an absolute entry",
         {file((outside / "absolute.txt").string(), data)},
         outside / "absolute.txt"},
        {"a write through a symbolic link",
         {entry("link", S_IFLNK | 0777, outside.string()), file("link/pwned.txt", data)},
         outside / "pwned.txt"},
        {"data longer than declared", {entry("victim", S_IFREG | 0644, data, 10)}, {}},
        {"data shorter than declared", {entry("victim", S_IFREG | 0644, data, 1000)}, {}},
        {"a block device", {entry("victim", S_IFBLK | 0644, data)}, destination / "victim"},
        {"a socket", {entry("victim", S_IFSOCK | 0644, data)}, destination / "victim"},
        {"a character device", {entry("victim", S_IFCHR | 0644, data)}, destination / "victim"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(destination);
        const std::filesystem::path zip = archive(c.entries);
        const ProcessResult result = ditto(zip, destination);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.standardError.rfind("ditto: ", 0), 0u) << result.standardError;
        if (!c.mustNotExist.empty()) {
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(c.mustNotExist)));
        }
    }
}

TEST_F(ZipToolsTest, ExtractionStopsAtTheByteLimit) {
    const std::filesystem::path zip =
        archive({file("a.bin", std::string(60, 'a')), file("b.bin", std::string(60, 'b'))});
    const std::filesystem::path destination = folder.path() / "out";
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
