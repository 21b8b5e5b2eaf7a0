#include "feature/Settings.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "feature/PendingSignIn.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string readText(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

class SettingsTest : public ::testing::Test {
  protected:
    testing::TemporaryDirectory folder;
    fs::path file = folder.path() / "quaylet" / "settings.json";
    Settings settings{file};
};

TEST_F(SettingsTest, StoredValuesAreReadOnlyWithTheirOwnType) {
    struct Case {
        const char* contents;
        std::string preferred;
        bool activate;
        double cacheLimitGB = 20;
    };
    const Case cases[] = {
        {nullptr, "", true},  // no file at all
        {R"({"preferredSimulatorUDID":"ABC","activateSimulator":false,"cacheLimitGB":2.5})", "ABC",
         false, 2.5},
        {R"({"activateSimulator":0,"cacheLimitGB":0})", "", true, 0},
        {R"({"activateSimulator":null,"preferredSimulatorUDID":42,"cacheLimitGB":-1})", "", true},
        {R"(["activateSimulator", false])", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contents ? c.contents : "(missing)");
        fs::remove(file);
        if (c.contents) {
            writeText(file, c.contents);
        }
        EXPECT_EQ(settings.preferredSimulatorUDID(), c.preferred);
        EXPECT_EQ(settings.activateSimulator(), c.activate);
        EXPECT_EQ(settings.cacheLimitGB(), c.cacheLimitGB);
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
            kept.push_back(readText(entry.path()));
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
    fs::create_directories(settingsFile.parent_path());
    fs::permissions(settingsFile.parent_path(), fs::perms::all & ~fs::perms::others_write);
    const mode_t previous = ::umask(022);
    Settings(settingsFile).setActivateSimulator(false);
    PendingSignIn(signInFile, std::chrono::system_clock::now).record();
    ::umask(previous);
    for (const fs::path& file : {settingsFile, signInFile}) {
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

}  // namespace
}  // namespace quaylet
