#include "feature/PullRequestWatch.h"

#include <QJsonValue>

#include <algorithm>
#include <charconv>

namespace quaylet {
namespace {

// GitHub's owner and repository names: letters, digits, "-", "_" and ".", never "." or
// "..". The repository is outside text that ends up in notifications and settings.
bool isPlainGitHubName(std::string_view name) {
    return !name.empty() && name.size() <= 100 && name != "." && name != ".." &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
           });
}

bool isRepository(std::string_view repository) {
    const auto slash = repository.find('/');
    return slash != std::string_view::npos && isPlainGitHubName(repository.substr(0, slash)) &&
           isPlainGitHubName(repository.substr(slash + 1));
}

// JSON numbers are doubles: integers beyond 2^53 would not come back as they were written.
constexpr double kLargestExactInteger = 9007199254740992.0;

std::optional<std::int64_t> wholeNumber(const QJsonValue& value) {
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > kLargestExactInteger ||
        number != static_cast<double>(static_cast<std::int64_t>(number))) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(number);
}

}  // namespace

std::chrono::milliseconds toMilliseconds(Timestamp time) {
    return std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch());
}

bool PullRequestWatch::isNewer(const PreviewSummary& build) const {
    return !lastSeenBuild || toMilliseconds(build.createdAt) > *lastSeenBuild;
}

std::string PullRequestWatch::reference() const {
    return repository + "#" + std::to_string(pullRequest);
}

std::optional<PullRequestWatch> PullRequestWatch::fromJson(const QJsonObject& object) {
    std::optional<PullRequestWatch> watch = parsePullRequestReference(
        object.value(QLatin1String("repository")).toString().toStdString() + "#" +
        std::to_string(wholeNumber(object.value(QLatin1String("pullRequest"))).value_or(0)));
    if (!watch) {
        return std::nullopt;
    }
    watch->openAutomatically = object.value(QLatin1String("openAutomatically")).toBool(false);
    if (const auto seen = wholeNumber(object.value(QLatin1String("lastSeenBuild")))) {
        watch->lastSeenBuild = std::chrono::milliseconds(*seen);
    }
    watch->lastActivity = std::chrono::milliseconds(
        wholeNumber(object.value(QLatin1String("lastActivity"))).value_or(0));
    return watch;
}

QJsonObject PullRequestWatch::toJson() const {
    QJsonObject object{
        {QLatin1String("repository"), QString::fromStdString(repository)},
        {QLatin1String("pullRequest"), static_cast<double>(pullRequest)},
        {QLatin1String("openAutomatically"), openAutomatically},
        {QLatin1String("lastActivity"), static_cast<double>(lastActivity.count())},
    };
    if (lastSeenBuild) {
        object.insert(QLatin1String("lastSeenBuild"), static_cast<double>(lastSeenBuild->count()));
    }
    return object;
}

std::optional<PullRequestWatch> parsePullRequestReference(std::string_view text) {
    const auto hash = text.rfind('#');
    if (hash == std::string_view::npos || !isRepository(text.substr(0, hash))) {
        return std::nullopt;
    }
    const std::string_view digits = text.substr(hash + 1);
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size() || number <= 0 ||
        static_cast<double>(number) > kLargestExactInteger) {
        return std::nullopt;
    }
    return PullRequestWatch{.repository = std::string(text.substr(0, hash)), .pullRequest = number};
}

}  // namespace quaylet
