#include "core/service/PreviewRecords.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/service/ServiceRecords.h"
#include "core/support/InternetDateTime.h"

namespace quaylet {
namespace {

using Json = nlohmann::json;
using Kind = DecodingError::Kind;
using testing::expectFailure;
using testing::manifestJson;
using namespace std::chrono;

sys_time<milliseconds> utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
    return sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s) +
           milliseconds(ms);
}

TEST(PreviewRecordsTest, ManifestBreakingARuleFailsWithItsKeyPath) {
    // The key, its new value (absent: the key goes), and the failure's kind and key path.
    const std::tuple<const char*, std::optional<Json>, Kind, std::string> cases[] = {
        {"sha256", std::nullopt, Kind::keyNotFound, "sha256"},
        {"branch", nullptr, Kind::valueNotFound, "branch"},
        {"pullRequest", "42", Kind::typeMismatch, "pullRequest"},
        {"pullRequest", 42.5, Kind::dataCorrupted, "pullRequest"},
        {"artifactSize", Json::parse("9223372036854775808"), Kind::dataCorrupted, "artifactSize"},
        {"artifactSize", Json::parse("1e19"), Kind::dataCorrupted, "artifactSize"},
        {"status", "READY", Kind::dataCorrupted, "status"},
        {"architectures", Json{"arm64", 1}, Kind::typeMismatch, "architectures[1]"},
        {"createdAt", "2024-05-01 12:30:45", Kind::dataCorrupted, "createdAt"},
    };
    for (const auto& [key, value, kind, keyPath] : cases) {
        SCOPED_TRACE(keyPath + " = " + (value ? value->dump() : "absent"));
        Json body = manifestJson();
        if (value) {
            body[key] = *value;
        } else {
            body.erase(key);
        }
        expectFailure([&] { PreviewManifest::decode(body.dump()); }, kind, keyPath);
    }
}

TEST(PreviewRecordsTest, ReadsInternetDateTimes) {
    const std::pair<const char*, std::optional<sys_time<nanoseconds>>> readable[] = {
        {"2024-05-01T12:30:45.123456789999Z", utc(2024, 5, 1, 12, 30, 45) + nanoseconds(123456789)},
        {"2024-05-01T12:30:45+02:00", utc(2024, 5, 1, 10, 30, 45)},
        {"2024-12-31T23:30:00-00:45", utc(2025, 1, 1, 0, 15, 0)},
        {"2024-02-29T00:00:00Z", utc(2024, 2, 29, 0, 0, 0)},
        {"1969-12-31T23:59:59.5Z", utc(1970, 1, 1, 0, 0, 0) - milliseconds(500)},
    };
    for (const auto& [text, expected] : readable) {
        EXPECT_EQ(parseInternetDateTime(text), expected) << text;
    }
    const std::vector<std::string> unreadable{
        "2023-02-29T00:00:00Z",     "2024-05-01T24:00:00Z",      "2024-05-01T12:60:00Z",
        "2024-05-01T12:30:60Z",     "2024-05-01T12:30:45+24:00", "2024-05-01T12:30:45+02:60",
        "2024-05-01T12:30:45+0200", "2024-05-01T12:30:45.Z",     "2024-05-01T12:30:45",
        "2024-5-01T12:30:45Z",      "2024-05-01T12:30:45Z ",     ""};
    for (const std::string& text : unreadable) {
        EXPECT_EQ(parseInternetDateTime(text), std::nullopt) << text;
    }
}

// Found by fuzzing: before 1970 the fraction was cut toward zero, one second late.
TEST(PreviewRecordsTest, WrittenDatesReadBackToTheWholeSecond) {
    const auto time = utc(1969, 12, 31, 23, 59, 59, 500);
    EXPECT_EQ(formatInternetDateTime(time), "1969-12-31T23:59:59Z");
    EXPECT_EQ(parseInternetDateTime(formatInternetDateTime(time)), floor<seconds>(time));
}

TEST(PreviewRecordsTest, ArtifactURLMustBeAnAbsoluteURL) {
    for (const char* url : {"/relative/path", "http://exa mple.com/", "file:///etc/passwd"}) {
        SCOPED_TRACE(url);
        const Json body{{"url", url}, {"expiresAt", "2024-05-01T12:30:45Z"}, {"direct", true}};
        expectFailure([&] { ArtifactURLResponse::decode(body.dump()); }, Kind::dataCorrupted,
                      "url");
    }
}

TEST(PreviewRecordsTest, DocumentsThatAreNotObjectsFail) {
    const std::pair<const char*, Kind> cases[] = {
        {"<html>not found</html>", Kind::dataCorrupted},
        {"{\"token\": \"t\", \"expiresIn\": 1e400}", Kind::dataCorrupted},  // found by fuzzing
        {"[]", Kind::typeMismatch},
        {"null", Kind::typeMismatch},
    };
    for (const auto& [body, kind] : cases) {
        SCOPED_TRACE(body);
        expectFailure([&] { MacAuthResponse::decode(body); }, kind, "");
    }
}

}  // namespace
}  // namespace quaylet
