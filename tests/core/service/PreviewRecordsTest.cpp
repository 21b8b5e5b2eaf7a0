#include "core/service/PreviewRecords.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "core/errors/DecodingError.h"
#include "core/support/InternetDateTime.h"

namespace quaylet {
namespace {

using Json = nlohmann::json;
using Kind = DecodingError::Kind;
using namespace std::chrono;

Json validManifest() {
    return Json{
        {"schemaVersion", 1},
        {"previewId", "pv_123"},
        {"repository", "acme/app"},
        {"pullRequest", 42},
        {"commitSha", "0123456789abcdef"},
        {"branch", "feature/login"},
        {"scheme", "App"},
        {"configuration", "Debug"},
        {"status", "ready"},
        {"bundleId", "com.acme.app"},
        {"displayName", "Acme"},
        {"minimumOSVersion", "17.0"},
        {"platform", "iphonesimulator"},
        {"architectures", {"arm64", "x86_64"}},
        {"xcodeVersion", "15.3"},
        {"artifactSize", 1048576},
        {"sha256", std::string(64, 'a')},
        {"createdAt", "2024-05-01T12:30:45.123Z"},
        {"readyAt", "2024-05-01T12:35:00Z"},
        {"expiresAt", "2024-05-08T12:35:00+02:00"},
    };
}

Json validSummary() {
    return Json{
        {"previewId", "pv_1"},   {"repository", "acme/app"},
        {"pullRequest", 7},      {"pullRequestTitle", "Login"},
        {"branch", "login"},     {"commitSha", "abc"},
        {"displayName", "Acme"}, {"minimumOSVersion", "17"},
        {"status", "ready"},     {"createdAt", "2024-05-01T12:30:45Z"},
    };
}

sys_time<milliseconds> utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
    return sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s) +
           milliseconds(ms);
}

DecodingError decodeFailure(const std::function<void()>& decode) {
    try {
        decode();
    } catch (const DecodingError& error) {
        return error;
    }
    ADD_FAILURE() << "decoding succeeded";
    return DecodingError(Kind::dataCorrupted, "", "");
}

TEST(PreviewRecordsTest, DecodesACompleteManifest) {
    Json body = validManifest();
    body["unknownKey"] = {{"nested", true}};
    const PreviewManifest manifest = PreviewManifest::decode(body.dump());
    EXPECT_EQ(manifest.schemaVersion, 1);
    EXPECT_EQ(manifest.previewId, "pv_123");
    EXPECT_EQ(manifest.pullRequest, 42);
    EXPECT_EQ(manifest.status, PreviewStatus::ready);
    EXPECT_EQ(manifest.architectures, (std::vector<std::string>{"arm64", "x86_64"}));
    EXPECT_EQ(manifest.artifactSize, 1048576);
    EXPECT_EQ(manifest.createdAt, utc(2024, 5, 1, 12, 30, 45, 123));
    EXPECT_EQ(manifest.readyAt, utc(2024, 5, 1, 12, 35, 0));
    EXPECT_EQ(manifest.expiresAt, utc(2024, 5, 8, 10, 35, 0));
}

TEST(PreviewRecordsTest, OptionalDatesMayBeMissingOrNullAndIntegersMayBeWrittenAsFractions) {
    Json body = validManifest();
    body.erase("readyAt");
    body["expiresAt"] = nullptr;
    body["schemaVersion"] = 1.0;
    body["artifactSize"] = Json::parse("2.5e3");
    const PreviewManifest manifest = PreviewManifest::decode(body.dump());
    EXPECT_EQ(manifest.readyAt, std::nullopt);
    EXPECT_EQ(manifest.expiresAt, std::nullopt);
    EXPECT_EQ(manifest.schemaVersion, 1);
    EXPECT_EQ(manifest.artifactSize, 2500);
}

TEST(PreviewRecordsTest, ManifestBreakingARuleFailsWithItsKeyPath) {
    struct Case {
        const char* name;
        std::function<void(Json&)> change;
        Kind kind;
        const char* keyPath;
    };
    const Case cases[] = {
        {"missing sha256", [](Json& j) { j.erase("sha256"); }, Kind::keyNotFound, "sha256"},
        {"null branch", [](Json& j) { j["branch"] = nullptr; }, Kind::valueNotFound, "branch"},
        {"number as text", [](Json& j) { j["pullRequest"] = "42"; }, Kind::typeMismatch,
         "pullRequest"},
        {"fraction", [](Json& j) { j["pullRequest"] = 42.5; }, Kind::dataCorrupted, "pullRequest"},
        {"beyond signed 64 bits",
         [](Json& j) { j["artifactSize"] = Json::parse("9223372036854775808"); },
         Kind::dataCorrupted, "artifactSize"},
        {"beyond exact doubles", [](Json& j) { j["artifactSize"] = Json::parse("1e19"); },
         Kind::dataCorrupted, "artifactSize"},
        {"boolean as integer", [](Json& j) { j["schemaVersion"] = true; }, Kind::typeMismatch,
         "schemaVersion"},
        {"status in capitals", [](Json& j) { j["status"] = "READY"; }, Kind::dataCorrupted,
         "status"},
        {"status as number", [](Json& j) { j["status"] = 2; }, Kind::typeMismatch, "status"},
        {"architecture not text",
         [](Json& j) {
             j["architectures"] = {"arm64", 1};
         },
         Kind::typeMismatch, "architectures[1]"},
        {"architectures not a list", [](Json& j) { j["architectures"] = "arm64"; },
         Kind::typeMismatch, "architectures"},
        {"date as number", [](Json& j) { j["createdAt"] = 1714566645; }, Kind::typeMismatch,
         "createdAt"},
        {"optional date present but unreadable", [](Json& j) { j["readyAt"] = "yesterday"; },
         Kind::dataCorrupted, "readyAt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Json body = validManifest();
        c.change(body);
        const DecodingError error = decodeFailure([&] { PreviewManifest::decode(body.dump()); });
        EXPECT_EQ(error.kind(), c.kind);
        EXPECT_EQ(error.keyPath(), c.keyPath);
        EXPECT_NE(std::string(error.what()).find(c.keyPath), std::string::npos) << error.what();
    }
}

TEST(PreviewRecordsTest, UnreadableDatesFailWithTheDateReason) {
    for (const char* text :
         {"2024-05-01 12:30:45", "2024-05-01T12:30:45", "2023-02-29T00:00:00Z"}) {
        SCOPED_TRACE(text);
        Json body = validManifest();
        body["createdAt"] = text;
        const DecodingError error = decodeFailure([&] { PreviewManifest::decode(body.dump()); });
        EXPECT_EQ(error.kind(), Kind::dataCorrupted);
        EXPECT_EQ(error.reason(), "Invalid ISO-8601 date");
    }
}

TEST(PreviewRecordsTest, ReadsInternetDateTimes) {
    // The year 9999 fits a microsecond clock but not a nanosecond one.
    const auto lastSecond = sys_days(year(9999) / 12 / 31) + hours(23) + minutes(59) + seconds(59);
    const bool clockHoldsYear9999 =
        lastSecond.time_since_epoch() < duration_cast<seconds>(system_clock::duration::max());
    struct Case {
        const char* text;
        std::optional<sys_time<nanoseconds>> expected;
    };
    const Case cases[] = {
        {"2024-05-01T12:30:45.123Z", utc(2024, 5, 1, 12, 30, 45, 123)},
        {"2024-05-01T12:30:45Z", utc(2024, 5, 1, 12, 30, 45)},
        {"2024-05-01T12:30:45.123456789999Z", utc(2024, 5, 1, 12, 30, 45) + nanoseconds(123456789)},
        {"2024-05-01T12:30:45+02:00", utc(2024, 5, 1, 10, 30, 45)},
        {"2024-12-31T23:30:00-00:45", utc(2025, 1, 1, 0, 15, 0)},
        {"2024-02-29T00:00:00Z", utc(2024, 2, 29, 0, 0, 0)},
        {"2000-02-29T00:00:00Z", utc(2000, 2, 29, 0, 0, 0)},
        {"1969-12-31T23:59:59.5Z", utc(1970, 1, 1, 0, 0, 0) - milliseconds(500)},
        {"9999-12-31T23:59:59Z",
         clockHoldsYear9999 ? std::optional<sys_time<nanoseconds>>(lastSecond) : std::nullopt},
        {"2023-02-29T00:00:00Z", std::nullopt},
        {"1900-02-29T00:00:00Z", std::nullopt},
        {"2024-04-31T00:00:00Z", std::nullopt},
        {"2024-13-01T00:00:00Z", std::nullopt},
        {"2024-00-01T00:00:00Z", std::nullopt},
        {"2024-05-00T00:00:00Z", std::nullopt},
        {"2024-05-01T24:00:00Z", std::nullopt},
        {"2024-05-01T12:60:00Z", std::nullopt},
        {"2024-05-01T12:30:60Z", std::nullopt},
        {"2024-05-01T12:30:45+24:00", std::nullopt},
        {"2024-05-01T12:30:45+02:60", std::nullopt},
        {"2024-05-01T12:30:45+0200", std::nullopt},
        {"2024-05-01T12:30:45.Z", std::nullopt},
        {"2024-05-01T12:30:45", std::nullopt},
        {"2024-05-01t12:30:45z", std::nullopt},
        {"2024-5-01T12:30:45Z", std::nullopt},
        {" 2024-05-01T12:30:45Z", std::nullopt},
        {"2024-05-01T12:30:45Z ", std::nullopt},
        {"2024-05-01T12:30:45ZZ", std::nullopt},
        {"2024-05-01", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseInternetDateTime(c.text), c.expected);
    }
}

// The case before 1970 was found by fuzzing: the fraction was cut toward zero, one second late.
TEST(PreviewRecordsTest, WrittenDatesReadBackToTheWholeSecond) {
    const struct {
        sys_time<milliseconds> time;
        const char* text;
    } cases[] = {
        {utc(2024, 2, 29, 23, 59, 58, 750), "2024-02-29T23:59:58Z"},
        {utc(1969, 12, 31, 23, 59, 59, 500), "1969-12-31T23:59:59Z"},
    };
    for (const auto& [time, text] : cases) {
        EXPECT_EQ(formatInternetDateTime(time), text);
        EXPECT_EQ(parseInternetDateTime(formatInternetDateTime(time)), floor<seconds>(time));
    }
}

TEST(PreviewRecordsTest, SummariesKeepAnyStatusAndChooseTheirTitle) {
    struct Case {
        const char* name;
        std::function<void(Json&)> change;
        bool isReady;
        const char* title;
    };
    const Case cases[] = {
        {"titled and ready", [](Json&) {}, true, "Login"},
        {"status in capitals", [](Json& j) { j["status"] = "READY"; }, false, "Login"},
        {"unknown status", [](Json& j) { j["status"] = "queued"; }, false, "Login"},
        {"empty title", [](Json& j) { j["pullRequestTitle"] = ""; }, true, "login"},
        {"null title", [](Json& j) { j["pullRequestTitle"] = nullptr; }, true, "login"},
        {"no title", [](Json& j) { j.erase("pullRequestTitle"); }, true, "login"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Json summary = validSummary();
        c.change(summary);
        const auto list = PreviewListResponse::decode(Json{{"previews", {summary}}}.dump());
        ASSERT_EQ(list.previews.size(), 1u);
        EXPECT_EQ(list.previews[0].id(), "pv_1");
        EXPECT_EQ(list.previews[0].isReady(), c.isReady);
        EXPECT_EQ(list.previews[0].title(), c.title);
    }
}

TEST(PreviewRecordsTest, ListKeepsOrderAndNamesTheFailingEntry) {
    Json previews = Json::array();
    for (int index = 0; index < 3; ++index) {
        Json summary = validSummary();
        summary["previewId"] = "pv_" + std::to_string(index);
        previews.push_back(summary);
    }
    const auto list = PreviewListResponse::decode(Json{{"previews", previews}}.dump());
    ASSERT_EQ(list.previews.size(), 3u);
    EXPECT_EQ(list.previews[2].previewId, "pv_2");

    previews[2]["createdAt"] = "2024-05-01";
    const DecodingError error = decodeFailure([&] {
        PreviewListResponse::decode(Json{{"previews", previews}}.dump());
    });
    EXPECT_EQ(error.keyPath(), "previews[2].createdAt");
    EXPECT_EQ(error.reason(), "Invalid ISO-8601 date");

    const DecodingError missing = decodeFailure([] { PreviewListResponse::decode("{}"); });
    EXPECT_EQ(missing.kind(), Kind::keyNotFound);
    EXPECT_EQ(missing.keyPath(), "previews");
}

TEST(PreviewRecordsTest, ArtifactURLMustBeAnAbsoluteURL) {
    const Json valid{{"url", "https://cdn.example.com/a/artifact.zip?sig=abc"},
                     {"expiresAt", "2024-05-01T12:30:45Z"},
                     {"direct", true}};
    const auto response = ArtifactURLResponse::decode(valid.dump());
    EXPECT_EQ(response.url, "https://cdn.example.com/a/artifact.zip?sig=abc");
    EXPECT_TRUE(response.direct);

    for (const char* url : {"not a url", "/relative/path", "https://", "http://exa mple.com/",
                            "file:///etc/passwd", ""}) {
        SCOPED_TRACE(url);
        Json body = valid;
        body["url"] = url;
        const DecodingError error =
            decodeFailure([&] { ArtifactURLResponse::decode(body.dump()); });
        EXPECT_EQ(error.kind(), Kind::dataCorrupted);
        EXPECT_EQ(error.keyPath(), "url");
    }
}

TEST(PreviewRecordsTest, DocumentsThatAreNotObjectsFail) {
    struct Case {
        const char* body;
        Kind kind;
    };
    const Case cases[] = {
        {"<html>not found</html>", Kind::dataCorrupted},
        {"", Kind::dataCorrupted},
        {"{\"token\": \"t\", \"expiresIn\": 3600", Kind::dataCorrupted},
        {"{\"token\": \"t\", \"expiresIn\": 1e400}", Kind::dataCorrupted},  // found by fuzzing
        {"[]", Kind::typeMismatch},
        {"null", Kind::typeMismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const DecodingError error = decodeFailure([&] { MacAuthResponse::decode(c.body); });
        EXPECT_EQ(error.kind(), c.kind);
        EXPECT_EQ(error.keyPath(), "");
        EXPECT_FALSE(error.reason().empty());
    }
    EXPECT_EQ(MacAuthResponse::decode(R"({"token":"t","expiresIn":3600})"),
              (MacAuthResponse{"t", 3600}));
    EXPECT_EQ(decodeFailure([] { MacAuthResponse::decode(R"({"token":"t"})"); }).keyPath(),
              "expiresIn");
}

TEST(PreviewRecordsTest, StatusStringsRoundTrip) {
    for (const PreviewStatus status : kAllPreviewStatuses) {
        EXPECT_EQ(previewStatusFromString(toString(status)), status);
    }
    EXPECT_EQ(toString(PreviewStatus::uploading), "uploading");
    EXPECT_EQ(previewStatusFromString("Ready"), std::nullopt);
}

}  // namespace
}  // namespace quaylet
