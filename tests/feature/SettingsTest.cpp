#include "feature/Settings.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "feature/LaunchHistory.h"
#include "feature/PendingSignIn.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

class SettingsTest : public ::testing::Test {
  protected:
    testing::TemporaryDirectory folder;
    fs::path file = folder.path() / "quaylet" / "settings.json";
    Settings settings{file};
};

TEST_F(SettingsTest, StoredValuesAreReadOnlyWithTheirOwnType) {
    // Each reads as the defaults but for the limit and the emulator; the command line test reads
    // stored values.
    const std::tuple<const char*, double, int, std::string> cases[] = {
        {nullptr, 20, 180, ""},  // no file at all
        {R"({"activateSimulator":0,"cacheLimitGB":0,"bootTimeoutSeconds":30,)"
         R"("preferredEmulator":"Pixel 9"})",
         0, 30, "Pixel 9"},
        {R"({"activateSimulator":null,"preferredSimulatorUDID":42,"preferredEmulator":7,)"
         R"("cacheLimitGB":-1,"bootTimeoutSeconds":2.5})",
         20, 180, ""},
        {R"(["activateSimulator", false])", 20, 180, ""},
    };
    for (const auto& [contents, cacheLimitGB, bootTimeout, emulator] : cases) {
        SCOPED_TRACE(contents ? contents : "(missing)");
        fs::remove(file);
        if (contents) {
            writeText(file, contents);
        }
        EXPECT_EQ(settings.preferredSimulatorUDID(), "");
        EXPECT_EQ(settings.preferredEmulator(), emulator);
        EXPECT_TRUE(settings.activateSimulator());
        EXPECT_EQ(settings.cacheLimitGB(), cacheLimitGB);
        EXPECT_EQ(settings.bootTimeout(), std::chrono::seconds(bootTimeout));
    }
}

TEST_F(SettingsTest, ACorruptFileIsKeptAsideBeforeTheFirstWrite) {
    writeText(file, "{\"activateSimulator\": fals");
    EXPECT_TRUE(settings.activateSimulator());
    EXPECT_EQ(fs::directory_iterator(file.parent_path())->path(), file)
        << "reading never moves the file";

    settings.setActivateSimulator(false);
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        if (entry.path().filename().string().starts_with("settings.json.corrupt-")) {
            kept.emplace_back(std::istreambuf_iterator(std::ifstream(entry.path()).rdbuf()),
                              std::istreambuf_iterator<char>());
        }
    }
    EXPECT_EQ(kept, std::vector<std::string>{"{\"activateSimulator\": fals"});
    EXPECT_FALSE(settings.activateSimulator());
}

TEST_F(SettingsTest, AnUnreadableFileIsNeitherReadNorReplaced) {
    // A folder in the file's place cannot be opened for reading, even by root.
    fs::create_directories(file / "keep");
    EXPECT_TRUE(settings.activateSimulator());
    EXPECT_THROW(settings.setPreferredSimulatorUDID("X"), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(file / "keep"));
}

// Under a permissive umask, and over a folder an older version left open, what the settings and
// a pending sign-in are written into is the owner's alone.
TEST(PrivateFilesTest, SettingsAndASignInInFlightAreTheOwnersAlone) {
    const testing::TemporaryDirectory folder;
    const fs::path settingsFile = folder.path() / "config" / "settings.json";
    const fs::path signInFile = folder.path() / "state" / "pending-sign-in";
    const fs::path historyFile = folder.path() / "state" / "launches.jsonl";
    fs::create_directories(settingsFile.parent_path());
    fs::permissions(settingsFile.parent_path(), fs::perms::all & ~fs::perms::others_write);
    const mode_t previous = ::umask(022);
    Settings(settingsFile).setActivateSimulator(false);
    PendingSignIn(signInFile, std::chrono::system_clock::now).record();
    // The history keeps the newest launches, newest last.
    const LaunchHistory history(historyFile);
    for (std::size_t launch = 0; launch <= LaunchHistory::kKept; ++launch) {
        history.append(std::to_string(launch));
    }
    ::umask(previous);
    const std::vector<std::string> kept = history.lines();
    ASSERT_EQ(kept.size(), LaunchHistory::kKept);
    EXPECT_EQ(kept.front(), "1");
    EXPECT_EQ(kept.back(), std::to_string(LaunchHistory::kKept));
    for (const fs::path& file : {settingsFile, signInFile, historyFile}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(fs::status(file.parent_path()).permissions(), fs::perms::owner_all);
        EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
}

// The command line tests follow the base directories; a relative one counts as unset.
TEST(DefaultLocationsTest, ARelativeBaseDirectoryIsIgnored) {
    testing::ScopedEnvironment home("HOME", "/home/someone");
    testing::ScopedEnvironment config("XDG_CONFIG_HOME", "relative/folder");
    EXPECT_EQ(Settings::defaultFile(), "/home/someone/.config/quaylet/settings.json");
}

// Another object, as in another process, sees the same mark; each mark serves one link.
TEST(PendingSignInTest, ServesOneLinkWithinItsLifetime) {
    const testing::TemporaryDirectory folder;
    const std::filesystem::path file = folder.path() / "state" / "pending-sign-in";
    // Whole milliseconds, as the mark stores them, so that the lifetime's end is met exactly.
    const auto now =
        std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
    const PendingSignIn pending(file, [&] { return now; });
    EXPECT_FALSE(pending.consume()) << "nothing recorded";
    const std::pair<std::chrono::system_clock::duration, bool> cases[] = {
        {0s, true}, {14min + 59s, true}, {15min, false}, {-1min, false}};
    for (const auto& [age, accepted] : cases) {
        SCOPED_TRACE(std::chrono::duration_cast<std::chrono::seconds>(age).count());
        pending.record();
        EXPECT_EQ(PendingSignIn(file, [&] { return now + age; }).consume(), accepted);
        EXPECT_FALSE(pending.consume());
    }
    std::ofstream(file) << "soon";
    EXPECT_FALSE(pending.consume());
    EXPECT_TRUE(std::filesystem::is_empty(file.parent_path())) << "the garbled mark is gone";
}

}  // namespace
}  // namespace quaylet
