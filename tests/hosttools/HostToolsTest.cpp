// The stand-in tools of this build, run as real child processes by their link names the way the
// core runs them, on a simulated device set of the test's own. The launch road's tests drive
// them end to end; here, what those take for granted.
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/process/ProcessRunner.h"
#include "fixtures/ZipBuilder.h"
#include "hosttools/ExecutableArchitectures.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {
namespace {

namespace fs = std::filesystem;
using fixtures::ZipBuilder;
using nlohmann::json;

class HostToolsTest : public ::testing::Test {
  protected:
    static ProcessResult run(const std::string& tool, const std::vector<std::string>& arguments) {
        return ProcessRunner().run(
            {(fs::path(QUAYLET_HOST_TOOLS_BUILD_DIR) / tool).string(), arguments}, {});
    }
    // The first device of the seeded device set (all shut down) that is available, or not.
    static std::string firstDevice(bool available) {
        const json listing = json::parse(run("xcrun", {"simctl", "list", "--json"}).standardOutput);
        for (const auto& [runtime, devices] : listing.at("devices").items()) {
            for (const json& device : devices) {
                if (device.at("isAvailable") == available) {
                    return device.at("udid");
                }
            }
        }
        return "";
    }
    json stored() const { return json::parse(std::ifstream(folder.path() / "devices.json")); }

    TemporaryDirectory folder;  // the simulated device set's home too
    ScopedEnvironment simulatorHome{"QUAYLET_SIMULATOR_HOME", folder.path().string()};
    ScopedEnvironment emulatorHome{"QUAYLET_EMULATOR_HOME", folder.path().string()};
};

// The launcher reads a boot's refusal of a booted device as success and any other failure as
// the command's; the app checks rely on a failing lipo and zipinfo, and the Android tests on a
// command failing on request when its words are, or begin with, the ones given. A refusal prints
// nothing on standard output and leaves the device set as it was. No launch on this host asks for a
// screenshot, so the booted device's is taken here.
TEST_F(HostToolsTest, RefuseWithTheMacToolsStatusesAndPictureABootedDevice) {
    const std::string booted = firstDevice(true);
    const std::string orphan = firstDevice(false);
    ASSERT_EQ(run("xcrun", {"simctl", "boot", booted}).status, 0);
    std::ofstream(folder.path() / "emulators.json")
        << R"({"emulators": [], "failing": ["adb -s e emu avd name"]})";
    const json before = stored();
    const std::string text = (folder.path() / "devices.json").string();  // neither zip nor binary
    const struct {
        std::string tool;
        std::vector<std::string> arguments;
        int status;
        std::string error;
    } cases[] = {
        {"xcrun", {"simctl", "boot", booted}, 149, "current state: Booted"},
        // Found once: it announced a boot that could never happen.
        {"xcrun", {"simctl", "bootstatus", orphan}, 149, "because it is unavailable"},
        {"lipo", {"-archs", text}, 1, "can't figure out the architecture type of: " + text},
        {"zipinfo", {"-1", text}, 9, "zipinfo: "},
        {"adb", {"-s", "e", "emu", "avd", "name"}, 1, "failing on request (adb -s e emu avd name)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool + " " + ::testing::PrintToString(c.arguments));
        const ProcessResult result = run(c.tool, c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.standardError.find(c.error), std::string::npos) << result.standardError;
        EXPECT_EQ(result.standardOutput, "");
    }
    EXPECT_EQ(stored(), before) << "refusals change nothing";

    const fs::path shot = folder.path() / "shot.png";
    ASSERT_EQ(run("xcrun", {"simctl", "io", booted, "screenshot", shot.string()}).status, 0);
    std::ifstream image(shot, std::ios::binary);
    const std::string png{std::istreambuf_iterator<char>(image), {}};
    EXPECT_TRUE(png.starts_with("\x89PNG\r\n\x1a\n") && png.ends_with("IEND\xae\x42\x60\x82"));
}

TEST_F(HostToolsTest, DittoRefusesUnsafeArchives) {
    const fs::path outside = folder.path() / "outside";
    fs::create_directories(outside);
    const fs::path archive = folder.path() / "archive.zip";
    const fs::path destination = folder.path() / "out";
    const std::string data(100, 'd');
    const struct {
        const char* label;
        ZipBuilder archive;
        fs::path mustNotExist;
    } cases[] = {
        {"a .. entry", ZipBuilder().add({.name = "../escaped.txt", .data = data}),
         folder.path() / "escaped.txt"},
        {"a write through a symbolic link",
         ZipBuilder()
             .add(ZipBuilder::symlink("link", outside.string()))
             .add({.name = "link/pwned.txt", .data = data}),
         outside / "pwned.txt"},
        // Found once: a short entry was padded out with zeros on the way to failing.
        {"data shorter than declared",
         ZipBuilder().add({.name = "victim",
                           .data = data,
                           .method = fixtures::ZipMethod::stored,
                           .declaredSize = 1000}),
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(destination);
        c.archive.writeTo(archive);
        const ProcessResult result =
            run("ditto", {"-x", "-k", "--noqtn", archive.string(), destination.string()});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.standardError.starts_with("ditto: ")) << result.standardError;
        if (!c.mustNotExist.empty()) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(c.mustNotExist)));
        }
        const fs::path victim = destination / "victim";
        EXPECT_LE(fs::exists(victim) ? fs::file_size(victim) : 0, data.size()) << "padded out";
    }
}

// The header reader behind the stand-in lipo, on headers written out here: hex digits in groups,
// the rest zeros up to `size`.
std::vector<std::uint8_t> bytes(std::string_view hex, std::size_t size) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < hex.size(); ++at) {
        if (hex[at] != ' ') {
            bytes.push_back(std::uint8_t(std::stoi(std::string(hex.substr(at++, 2)), nullptr, 16)));
        }
    }
    bytes.resize(size);
    return bytes;
}

// Found once: a universal arch table cut inside its last entry was read. Whole, each header
// names its architectures; the top byte of a subtype holds flags, not the model.
TEST(ExecutableArchitecturesTest, EveryTruncatedHeaderIsRefused) {
    using Names = std::vector<std::string>;
    const std::pair<std::vector<std::uint8_t>, Names> headers[] = {
        // A thin 64-bit Mach-O (little-endian): arm64, subtype 2 with a flag, an executable.
        {bytes("cffaedfe 0c000001 02000080 02000000", 32), {"arm64e"}},
        // A universal header with 64-bit offsets: each slice's processor type and subtype, its
        // offset and size, its alignment and a reserved word.
        {bytes("cafebabf 00000002"
               "0100000c 00000000 0000000000000040 0000000000000001 0000000e 00000000"
               "01000007 00000003 0000000000000040 0000000000000001 0000000e 00000000",
               72),
         {"arm64", "x86_64"}},
        // A 32-bit big-endian ELF executable for PowerPC (machine 20).
        {bytes("7f454c46 010201 000000000000000000 0002 0014", 52), {"ppc"}},
    };
    for (const auto& [header, names] : headers) {
        EXPECT_EQ(hosttools::executableArchitectures(header, header.size()), names);
        for (std::size_t length = 0; length < header.size(); ++length) {
            // A copy, so that a read past its end is one the sanitizers see.
            const std::vector prefix(header.begin(), header.begin() + std::ptrdiff_t(length));
            EXPECT_EQ(hosttools::executableArchitectures(prefix, prefix.size()), Names{}) << length;
        }
    }
}

}  // namespace
}  // namespace quaylet::testing
