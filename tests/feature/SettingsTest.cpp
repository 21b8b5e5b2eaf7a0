#include "feature/Settings.h"

#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <fstream>
#include <sstream>

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

QJsonObject readObject(const fs::path& path) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(readText(path))).object();
}

std::vector<fs::path> corruptCopies(const fs::path& folder) {
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("settings.json.corrupt-")) {
            copies.push_back(entry.path());
        }
    }
    return copies;
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
        {R"({"activateSimulator":"false","cacheLimitGB":"5"})", "", true},
        {R"({"activateSimulator":0,"cacheLimitGB":0})", "", true, 0},
        {R"({"activateSimulator":null,"preferredSimulatorUDID":42,"cacheLimitGB":-1})", "", true},
        {R"({"preferredSimulatorUDID":""})", "", true},
        {"not json", "", true},
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

TEST_F(SettingsTest, WritesKeepTypesAndUnknownKeys) {
    writeText(file, R"({"windowWidth": 640})");
    settings.setActivateSimulator(false);
    settings.setPreferredSimulatorUDID("UDID-1");

    const QJsonObject stored = readObject(file);
    EXPECT_TRUE(stored.value("activateSimulator").isBool());
    EXPECT_FALSE(stored.value("activateSimulator").toBool());
    EXPECT_TRUE(stored.value("preferredSimulatorUDID").isString());
    EXPECT_EQ(stored.value("windowWidth").toInt(), 640);
    EXPECT_FALSE(Settings(file).activateSimulator());
    EXPECT_EQ(Settings(file).preferredSimulatorUDID(), "UDID-1");

    settings.setCacheLimitGB(0.5);
    EXPECT_EQ(Settings(file).cacheLimitBytes(), 500'000'000u);
    EXPECT_THROW(settings.setCacheLimitGB(-1), std::invalid_argument);
    EXPECT_THROW(settings.setCacheLimitGB(std::nan("")), std::invalid_argument);
}

TEST_F(SettingsTest, ACorruptFileIsKeptAsideBeforeTheFirstWrite) {
    writeText(file, "{\"activateSimulator\": fals");
    EXPECT_TRUE(settings.activateSimulator());
    EXPECT_TRUE(corruptCopies(file.parent_path()).empty()) << "reading never moves the file";

    settings.setActivateSimulator(false);

    const auto copies = corruptCopies(file.parent_path());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readText(copies.front()), "{\"activateSimulator\": fals");
    EXPECT_FALSE(settings.activateSimulator());
}

TEST_F(SettingsTest, AnUnreadableFileIsNeitherReadNorReplaced) {
    // A folder in the file's place cannot be opened for reading, even by root.
    fs::create_directories(file / "keep");

    EXPECT_TRUE(settings.activateSimulator());
    EXPECT_THROW(settings.setPreferredSimulatorUDID("X"), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(file / "keep"));
}

TEST(SettingsLocationTest, FollowsTheConfigBaseDirectory) {
    testing::TemporaryDirectory home;
    {
        testing::ScopedEnvironment config("XDG_CONFIG_HOME", home.path().string());
        EXPECT_EQ(Settings::defaultFile(), home.path() / "quaylet" / "settings.json");
    }
    {
        testing::ScopedEnvironment config("XDG_CONFIG_HOME", "relative/folder");
        testing::ScopedEnvironment homeVariable("HOME", home.path().string());
        EXPECT_EQ(Settings::defaultFile(), home.path() / ".config" / "quaylet" / "settings.json");
    }
}

}  // namespace
}  // namespace quaylet
