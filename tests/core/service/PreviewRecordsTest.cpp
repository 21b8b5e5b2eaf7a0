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

// A manifest with one key changed (absent: removed), an address record or a sign-in answer.
TEST(PreviewRecordsTest, DocumentsBreakingARuleFailWithTheirKeyPath) {
    const auto manifest = [](const char* key, std::optional<Json> value) {
        Json body = manifestJson();
        value ? void(body[key] = *value) : void(body.erase(key));
        return std::function([body] { PreviewManifest::decode(body.dump()); });
    };
    const auto artifactURL = [](const char* url) {
        const Json body{{"url", url}, {"expiresAt", "2024-05-01T12:30:45Z"}, {"direct", true}};
        return std::function([body] { ArtifactURLResponse::decode(body.dump()); });
    };
    const auto signIn = [](std::string body) {
        return std::function([body] { MacAuthResponse::decode(body); });
    };
    const std::tuple<std::function<void()>, Kind, std::string> cases[] = {
        {manifest("sha256", std::nullopt), Kind::keyNotFound, "sha256"},
        {manifest("branch", nullptr), Kind::valueNotFound, "branch"},
        {manifest("pullRequest", "42"), Kind::typeMismatch, "pullRequest"},
        {manifest("pullRequest", 42.5), Kind::dataCorrupted, "pullRequest"},
        {manifest("artifactSize", Json::parse("9223372036854775808")), Kind::dataCorrupted,
         "artifactSize"},
        {manifest("artifactSize", Json::parse("1e19")), Kind::dataCorrupted, "artifactSize"},
        {manifest("status", "READY"), Kind::dataCorrupted, "status"},
        {manifest("architectures", Json{"arm64", 1}), Kind::typeMismatch, "architectures[1]"},
        {manifest("createdAt", "2024-05-01 12:30:45"), Kind::dataCorrupted, "createdAt"},
        // The address must be absolute.
        {artifactURL("/relative/path"), Kind::dataCorrupted, "url"},
        {artifactURL("http://exa mple.com/"), Kind::dataCorrupted, "url"},
        {artifactURL("file:///etc/passwd"), Kind::dataCorrupted, "url"},
        // Documents that are not objects.
        {signIn("<html>not found</html>"), Kind::dataCorrupted, ""},
        {signIn("{\"token\": \"t\", \"expiresIn\": 1e400}"), Kind::dataCorrupted, ""},  // fuzzing
        {signIn("[]"), Kind::typeMismatch, ""},
        {signIn("null"), Kind::typeMismatch, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::apply(expectFailure, c);
    }
}

// Written dates read back to the whole second.
TEST(PreviewRecordsTest, ReadsAndWritesInternetDateTimes) {
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
    // Found by fuzzing: before 1970 the fraction was cut toward zero, one second late.
    const auto time = utc(1969, 12, 31, 23, 59, 59, 500);
    EXPECT_EQ(formatInternetDateTime(time), "1969-12-31T23:59:59Z");
    EXPECT_EQ(parseInternetDateTime(formatInternetDateTime(time)), floor<seconds>(time));
}

}  // namespace
}  // namespace quaylet
