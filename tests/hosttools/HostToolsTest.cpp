// The stand-in tools of this build, run as real child processes by their link names the way the
// core runs them, on a simulated device set of the test's own. The launch road's tests drive
// them end to end; here, what those take for granted.
#include <array>
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
    json stored() const { return json::parse(std::ifstream(home.path() / "devices.json")); }

    TemporaryDirectory home;
    TemporaryDirectory folder;
    ScopedEnvironment simulatorHome{"QUAYLET_SIMULATOR_HOME", home.path().string()};
};

// The launcher reads a boot's refusal of a booted device as success and any other failure as
// the command's; the app checks rely on a failing lipo and zipinfo. A refusal prints nothing
// on standard output and leaves the device set as it was. No launch on this host asks for a
// screenshot, so the booted device's is taken here.
TEST_F(HostToolsTest, RefuseWithTheMacToolsStatusesAndPictureABootedDevice) {
    const std::string booted = firstDevice(true);
    const std::string orphan = firstDevice(false);
    ASSERT_EQ(run("xcrun", {"simctl", "boot", booted}).status, 0);
    const json before = stored();
    const std::string text = (home.path() / "devices.json").string();  // neither zip nor binary
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

// The header reader behind the stand-in lipo, on headers built here.
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

constexpr std::uint32_t kArm64 = 0x0100000c;
constexpr std::uint32_t kX86_64 = 0x01000007;

// Appends each value as `width` bytes in the byte order asked for.
void put(Bytes& bytes, std::initializer_list<std::uint64_t> values, int width,
         bool bigEndian = true) {
    for (const std::uint64_t value : values) {
        for (int index = 0; index < width; ++index) {
            bytes.push_back(std::uint8_t(value >> 8 * (bigEndian ? width - 1 - index : index)));
        }
    }
}

// A 64-bit executable with no load commands.
Bytes thinMach(std::uint32_t cpuType, std::uint32_t cpuSubtype) {
    Bytes bytes;
    put(bytes, {0xfeedfacf, cpuType, cpuSubtype, 2}, 4, false);
    bytes.resize(32);
    return bytes;
}

// Each slice: processor type and subtype, offset and size.
using Slice = std::array<std::uint64_t, 4>;

// A universal header with 64-bit offsets and sizes.
Bytes fat(const std::vector<Slice>& slices) {
    Bytes bytes;
    put(bytes, {0xcafebabf, slices.size()}, 4);
    for (const auto& [cpuType, cpuSubtype, offset, size] : slices) {
        put(bytes, {cpuType, cpuSubtype}, 4);
        put(bytes, {offset, size}, 8);
        put(bytes, {14, 0}, 4);  // the alignment and a reserved word
    }
    return bytes;
}

Bytes elf(int elfClass, bool bigEndian, std::uint16_t machine) {
    Bytes bytes{0x7f, 'E', 'L', 'F', std::uint8_t(elfClass), std::uint8_t(bigEndian ? 2 : 1), 1};
    bytes.resize(16);
    put(bytes, {2, machine}, 2, bigEndian);  // an executable for that machine
    bytes.resize(elfClass == 2 ? 64 : 52);
    return bytes;
}

// Found once: a universal arch table cut inside its last entry was read. Whole, each header
// names its architectures; the top byte of a subtype holds flags, not the model.
TEST(ExecutableArchitecturesTest, EveryTruncatedHeaderIsRefused) {
    const std::pair<Bytes, Names> headers[] = {
        {thinMach(kArm64, 0x80000002), {"arm64e"}},
        {fat({{kArm64, 0, 64, 1}, {kX86_64, 3, 64, 1}}), {"arm64", "x86_64"}},
        {elf(1, true, 20), {"ppc"}},
    };
    for (const auto& [header, names] : headers) {
        EXPECT_EQ(hosttools::executableArchitectures(header, header.size()), names);
        for (std::size_t length = 0; length < header.size(); ++length) {
            const Bytes prefix(header.begin(), header.begin() + static_cast<long>(length));
            EXPECT_EQ(hosttools::executableArchitectures(prefix, prefix.size()), Names{}) << length;
        }
    }
}

}  // namespace
}  // namespace quaylet::testing
