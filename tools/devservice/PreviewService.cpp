#include "PreviewService.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iomanip>
#include <random>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "core/support/InternetDateTime.h"

namespace quaylet::devservice {
namespace {

using nlohmann::json;

constexpr auto kDownloadLifetime = std::chrono::minutes(5);
constexpr std::int64_t kTokenLifetimeSeconds = 30 * 24 * 60 * 60;
constexpr std::size_t kArtifactChunkSize = 64 * 1024;
constexpr auto kLongestStallWait = std::chrono::seconds(30);
constexpr const char* kFaultRoutes[] = {"manifest", "download", "artifact", "list", "logout"};
constexpr const char* kFaultAnswer = "The service is having trouble. Try again later.";

// The summary a builds list shows, taken from the manifest by key.
constexpr const char* kSummaryKeys[] = {
    "previewId", "repository",  "pullRequest", "pullRequestTitle", "branch",
    "commitSha", "displayName", "platform",    "minimumOSVersion", "status",
    "createdAt", "readyAt",     "expiresAt",
};

void answerError(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    response.set_content(json{{"error", {{"message", message}}}}.dump(), "application/json");
}

void answerJSON(httplib::Response& response, const json& body) {
    response.status = 200;
    response.set_content(body.dump(), "application/json");
}

// A fresh unguessable value for tokens, codes and download grants.
std::string randomToken() {
    static thread_local std::random_device device;
    std::ostringstream text;
    for (int word = 0; word < 4; ++word) {
        text << std::hex << std::setw(8) << std::setfill('0') << device();
    }
    return text.str();
}

std::optional<json> readManifest(const std::filesystem::path& folder) {
    std::ifstream file(folder / "manifest.json");
    if (!file) {
        return std::nullopt;
    }
    json manifest = json::parse(file, nullptr, /*allow_exceptions=*/false);
    if (!manifest.is_object()) {
        return std::nullopt;
    }
    return manifest;
}

std::optional<json> parseObject(const std::string& body) {
    json value = json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (!value.is_object()) {
        return std::nullopt;
    }
    return value;
}

std::string stringMember(const json& object, const char* key) {
    const auto member = object.find(key);
    return member != object.end() && member->is_string() ? member->get<std::string>() : "";
}

// An Android build's archive is its .apk; any other build's is a zip.
std::filesystem::path archiveIn(const std::filesystem::path& folder) {
    std::error_code error;
    const std::filesystem::path apk = folder / "artifact.apk";
    return std::filesystem::is_regular_file(apk, error) ? apk : folder / "artifact.zip";
}

}  // namespace

bool isPlainPreviewID(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           std::all_of(name.begin(), name.end(), [](unsigned char character) {
               return std::isalnum(character) || character == '-' || character == '_' ||
                      character == '.';
           });
}

PreviewService::PreviewService(PreviewServiceOptions options) : options_(std::move(options)) {
    if (options_.fixedToken) {
        apiTokens_.insert(*options_.fixedToken);
    }
    addRoutes();
}

int PreviewService::bind(int port) {
    if (port == 0) {
        port_ = server_.bind_to_any_port("127.0.0.1");
    } else if (server_.bind_to_port("127.0.0.1", port)) {
        port_ = port;
    } else {
        port_ = -1;
    }
    if (port_ < 0) {
        throw std::system_error(errno, std::generic_category(),
                                "cannot listen on 127.0.0.1 port " + std::to_string(port));
    }
    return port_;
}

void PreviewService::serve() {
    server_.listen_after_bind();
    serveEnded_ = true;
}

void PreviewService::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    faultsChanged_.notify_all();  // held requests must end, or the server cannot
    // The server ignores a stop that comes before it runs, which would leave the process
    // serving after SIGTERM; wait until it runs (or has already ended).
    while (!server_.is_running() && !serveEnded_) {
        std::this_thread::yield();
    }
    server_.stop();
}

void PreviewService::addRoutes() {
    const auto route = [this](auto member) {
        return [this, member](const httplib::Request& request, httplib::Response& response) {
            (this->*member)(request, response);
        };
    };
    server_.Get(R"(/api/v1/previews)", route(&PreviewService::list));
    server_.Get(R"(/api/v1/previews/([^/]+))", route(&PreviewService::manifest));
    server_.Post(R"(/api/v1/previews/([^/]+)/download)", route(&PreviewService::downloadURL));
    server_.Post(R"(/api/v1/previews/([^/]+)/launch-events)", route(&PreviewService::launchEvent));
    server_.Get(R"(/artifacts/([^/]+))", route(&PreviewService::artifact));
    server_.Get(R"(/api/v1/auth/github)", route(&PreviewService::signInPage));
    server_.Post(R"(/api/v1/auth/mac/exchange)", route(&PreviewService::exchangeCode));
    server_.Post(R"(/api/v1/auth/logout)", route(&PreviewService::logout));
    server_.Get(R"(/dev/launch-events)", route(&PreviewService::launchEvents));
    server_.Post(R"(/dev/faults)", route(&PreviewService::armFault));
    server_.Delete(R"(/dev/faults)", route(&PreviewService::clearFaults));
    server_.Get(R"(/dev/faults/stalled)", route(&PreviewService::awaitStalledRequest));
    server_.Get(R"(/dev/artifact-ranges)", route(&PreviewService::artifactRanges));
}

bool PreviewService::authorize(const httplib::Request& request, httplib::Response& response) {
    if (!options_.requireSignIn) {
        return true;
    }
    const std::string header = request.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    {
        const std::lock_guard lock(mutex_);
        if (header.starts_with(prefix) && apiTokens_.contains(header.substr(prefix.size()))) {
            return true;
        }
    }
    answerError(response, 401, "Sign in with GitHub to continue.");
    return false;
}

std::optional<std::filesystem::path> PreviewService::buildFolder(
    const std::string& previewID) const {
    if (!isPlainPreviewID(previewID)) {
        return std::nullopt;
    }
    const auto folder = options_.buildsFolder / previewID;
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        return std::nullopt;
    }
    return folder;
}

void PreviewService::manifest(const httplib::Request& request, httplib::Response& response) {
    if (const auto fault = armedFault("manifest"); fault && answerWithFault(*fault, response)) {
        return;
    }
    if (!authorize(request, response)) {
        return;
    }
    const auto folder = buildFolder(request.matches[1]);
    const auto manifest = folder ? readManifest(*folder) : std::nullopt;
    if (!manifest) {
        answerError(response, 404,
                    "This build doesn’t exist. Open a newer build from the pull request.");
        return;
    }
    answerJSON(response, *manifest);
}

void PreviewService::list(const httplib::Request& request, httplib::Response& response) {
    if (const auto fault = armedFault("list"); fault && answerWithFault(*fault, response)) {
        return;
    }
    if (!authorize(request, response)) {
        return;
    }
    std::optional<std::size_t> limit;
    if (request.has_param("limit")) {
        const std::string text = request.get_param_value("limit");
        std::size_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) {
            answerError(response, 400, "The limit must be a whole number.");
            return;
        }
        limit = value;
    }

    std::vector<json> summaries;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(options_.buildsFolder, error)) {
        const auto manifest = entry.is_directory() ? readManifest(entry.path()) : std::nullopt;
        if (!manifest) {
            continue;
        }
        json summary = json::object();
        for (const char* key : kSummaryKeys) {
            if (manifest->contains(key)) {
                summary[key] = (*manifest)[key];
            }
        }
        summaries.push_back(std::move(summary));
    }
    // Newest first, as a user expects of a list of recent builds.
    std::sort(summaries.begin(), summaries.end(), [](const json& left, const json& right) {
        return left.value("createdAt", "") > right.value("createdAt", "");
    });
    if (limit && summaries.size() > *limit) {
        summaries.resize(*limit);
    }
    answerJSON(response, json{{"previews", summaries}});
}

void PreviewService::downloadURL(const httplib::Request& request, httplib::Response& response) {
    const auto fault = armedFault("download");
    if (fault && answerWithFault(*fault, response)) {
        return;
    }
    if (!authorize(request, response)) {
        return;
    }
    const std::string previewID = request.matches[1];
    const auto folder = buildFolder(previewID);
    std::error_code error;
    if (!folder || !std::filesystem::is_regular_file(archiveIn(*folder), error)) {
        answerError(response, 404, "This build has no archive to download.");
        return;
    }
    const std::string grant = randomToken();
    const auto expiresAt = fault && fault->kind == Fault::Kind::expire
                               ? std::chrono::system_clock::now()
                               : std::chrono::system_clock::now() + kDownloadLifetime;
    {
        const std::lock_guard lock(mutex_);
        downloadGrants_[grant] = DownloadGrant{previewID, expiresAt};
    }
    answerJSON(response, json{{"url", "http://127.0.0.1:" + std::to_string(port_) + "/artifacts/" +
                                          previewID + "?token=" + grant},
                              {"expiresAt", formatInternetDateTime(expiresAt)},
                              {"direct", false}});
}

void PreviewService::artifact(const httplib::Request& request, httplib::Response& response) {
    {
        const std::lock_guard lock(mutex_);
        artifactRanges_.push_back(request.get_header_value("Range"));
    }
    const auto fault = armedFault("artifact");
    if (fault && answerWithFault(*fault, response)) {
        return;
    }
    const std::string previewID = request.matches[1];
    bool granted = false;
    {
        const std::lock_guard lock(mutex_);
        const auto grant = downloadGrants_.find(request.get_param_value("token"));
        granted = grant != downloadGrants_.end() && grant->second.previewID == previewID &&
                  std::chrono::system_clock::now() < grant->second.expiresAt;
    }
    if (!granted) {
        answerError(response, 403, "This download link has expired. Try again.");
        return;
    }
    const auto folder = buildFolder(previewID);
    auto file =
        folder ? std::make_shared<std::ifstream>(archiveIn(*folder), std::ios::binary) : nullptr;
    std::error_code error;
    const auto size =
        file && *file ? std::filesystem::file_size(archiveIn(*folder), error) : std::uintmax_t{0};
    if (!file || !*file || error) {
        answerError(response, 404, "This build has no archive to download.");
        return;
    }
    // Streamed in chunks from disk, so archives of any size cost only one chunk of memory.
    // A dropped connection announces the whole size and ends part-way. A Range request is
    // answered with 206 and the rest of the file by the server library itself.
    const bool drop = fault && fault->kind == Fault::Kind::drop;
    const std::size_t sent =
        drop ? static_cast<std::size_t>(static_cast<double>(size) * fault->at) : size;
    // A throttled answer sends each chunk no sooner than its place in the answer allows at the
    // rate, counted from the first chunk.
    struct Pace {
        std::chrono::steady_clock::time_point start;
        std::size_t firstOffset = 0;
    };
    auto pace = std::make_shared<std::optional<Pace>>();
    response.set_content_provider(
        static_cast<std::size_t>(size), "application/zip",
        [file, sent, pace, rate = options_.artifactBytesPerSecond](
            std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (offset >= sent) {
                return false;
            }
            if (rate != 0) {
                if (!*pace) {
                    *pace = Pace{std::chrono::steady_clock::now(), offset};
                }
                std::this_thread::sleep_until(
                    (*pace)->start +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(
                            static_cast<double>(offset - (*pace)->firstOffset) /
                            static_cast<double>(rate))));
            }
            std::vector<char> buffer(std::min({length, sent - offset, kArtifactChunkSize}));
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            if (file->gcount() <= 0) {
                return false;
            }
            return sink.write(buffer.data(), static_cast<std::size_t>(file->gcount()));
        });
}

void PreviewService::launchEvent(const httplib::Request& request, httplib::Response& response) {
    if (!authorize(request, response)) {
        return;
    }
    const std::string previewID = request.matches[1];
    if (!buildFolder(previewID)) {
        answerError(response, 404,
                    "This build doesn’t exist. Open a newer build from the pull request.");
        return;
    }
    const auto event = parseObject(request.body);
    const bool valid =
        event && event->contains("stage") && (*event)["stage"].is_string() &&
        event->contains("successful") && (*event)["successful"].is_boolean() &&
        (!event->contains("durationMs") || (*event)["durationMs"].is_number_integer()) &&
        (!event->contains("errorCode") || (*event)["errorCode"].is_string());
    if (!valid) {
        answerError(response, 400, "A launch event needs a stage and whether it succeeded.");
        return;
    }
    json recorded = *event;
    recorded["previewId"] = previewID;
    {
        const std::lock_guard lock(mutex_);
        launchEvents_.push_back(std::move(recorded));
    }
    response.status = 204;
}

void PreviewService::signInPage(const httplib::Request& request, httplib::Response& response) {
    if (request.get_param_value("client") != "mac") {
        answerError(response, 400, "This sign-in page serves the Quaylet app only.");
        return;
    }
    const std::string code = randomToken();
    {
        const std::lock_guard lock(mutex_);
        signInCodes_.insert(code);
    }
    const std::string link = "quaylet://auth?code=" + code;
    response.set_redirect(link, 302);
    // Shown only by a browser that does not follow the redirect to our URL scheme.
    response.set_content("<!doctype html><title>Quaylet sign-in</title><p>Signed in. <a href=\"" +
                             link + "\">Return to Quaylet</a>.</p>",
                         "text/html");
}

void PreviewService::exchangeCode(const httplib::Request& request, httplib::Response& response) {
    const auto body = parseObject(request.body);
    if (!body || !body->contains("code") || !(*body)["code"].is_string()) {
        answerError(response, 400, "The exchange needs a sign-in code.");
        return;
    }
    const std::string token = randomToken();
    {
        const std::lock_guard lock(mutex_);
        // Each code works once, as a code from a real sign-in does.
        if (signInCodes_.erase((*body)["code"].get<std::string>()) == 0) {
            answerError(response, 401, "This sign-in code is not valid. Sign in again.");
            return;
        }
        apiTokens_.insert(token);
    }
    answerJSON(response, json{{"token", token}, {"expiresIn", kTokenLifetimeSeconds}});
}

void PreviewService::logout(const httplib::Request& request, httplib::Response& response) {
    if (const auto fault = armedFault("logout"); fault && answerWithFault(*fault, response)) {
        return;
    }
    if (!authorize(request, response)) {
        return;
    }
    const std::string header = request.get_header_value("Authorization");
    {
        const std::lock_guard lock(mutex_);
        apiTokens_.erase(header.substr(std::min(header.size(), std::string("Bearer ").size())));
    }
    response.status = 204;
}

void PreviewService::launchEvents(const httplib::Request&, httplib::Response& response) {
    const std::lock_guard lock(mutex_);
    answerJSON(response, launchEvents_);
}

std::optional<PreviewService::Fault> PreviewService::armedFault(const std::string& route) {
    const std::lock_guard lock(mutex_);
    const auto fault = faults_.find(route);
    if (fault == faults_.end()) {
        return std::nullopt;
    }
    const Fault armed = fault->second;
    if (armed.times && --*fault->second.times <= 0) {
        faults_.erase(fault);
    }
    return armed;
}

bool PreviewService::answerWithFault(const Fault& fault, httplib::Response& response) {
    switch (fault.kind) {
        case Fault::Kind::status:
            answerError(response, fault.status, kFaultAnswer);
            return true;
        case Fault::Kind::drop:
        case Fault::Kind::expire:
            return false;
        case Fault::Kind::stall: {
            std::unique_lock lock(mutex_);
            ++stalledRequests_;
            faultsChanged_.notify_all();
            // Held until the faults are cleared or the service stops, whichever comes first.
            faultsChanged_.wait(lock, [this] {
                return stopping_ || std::none_of(faults_.begin(), faults_.end(), [](auto& entry) {
                           return entry.second.kind == Fault::Kind::stall;
                       });
            });
            --stalledRequests_;
            answerError(response, 503, kFaultAnswer);
            return true;
        }
    }
    return false;
}

void PreviewService::armFault(const httplib::Request& request, httplib::Response& response) {
    const auto body = parseObject(request.body);
    const std::string route = body ? stringMember(*body, "route") : "";
    const std::string kind = body ? stringMember(*body, "fault") : "";
    const bool knownRoute = std::any_of(std::begin(kFaultRoutes), std::end(kFaultRoutes),
                                        [&route](const char* known) { return route == known; });
    std::optional<Fault> fault;
    if (kind == "status" && body->contains("status") && (*body)["status"].is_number_integer()) {
        const int status = (*body)["status"].get<int>();
        if (status >= 400 && status <= 599) {
            fault = Fault{Fault::Kind::status, status, 0.5, std::nullopt};
        }
    } else if (kind == "drop" && route == "artifact") {
        fault = Fault{Fault::Kind::drop, 0, 0.5, std::nullopt};
        if (body->contains("at") && (*body)["at"].is_number()) {
            fault->at = (*body)["at"].get<double>();
        }
    } else if (kind == "stall") {
        fault = Fault{Fault::Kind::stall, 0, 0.5, std::nullopt};
    } else if (kind == "expire" && route == "download") {
        fault = Fault{Fault::Kind::expire, 0, 0.5, std::nullopt};
    }
    if (fault && body->contains("times")) {
        const json& times = (*body)["times"];
        fault->times = times.is_number_integer() ? times.get<int>() : 0;
    }
    if (!knownRoute || !fault || !(fault->at >= 0 && fault->at < 1) ||
        (fault->times && *fault->times < 1)) {
        answerError(response, 400,
                    "A fault names a route (manifest, download, artifact, list or logout) and a "
                    "fault: status "
                    "with a 4xx or 5xx status, stall, drop for the artifact (\"at\" a fraction "
                    "below 1), or expire for the download; \"times\" limits it to that many "
                    "requests.");
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        faults_[route] = *fault;
    }
    faultsChanged_.notify_all();
    response.status = 204;
}

void PreviewService::clearFaults(const httplib::Request&, httplib::Response& response) {
    {
        const std::lock_guard lock(mutex_);
        faults_.clear();
        artifactRanges_ = json::array();
    }
    faultsChanged_.notify_all();
    response.status = 204;
}

void PreviewService::artifactRanges(const httplib::Request&, httplib::Response& response) {
    const std::lock_guard lock(mutex_);
    answerJSON(response, artifactRanges_);
}

void PreviewService::awaitStalledRequest(const httplib::Request&, httplib::Response& response) {
    std::unique_lock lock(mutex_);
    faultsChanged_.wait_for(lock, kLongestStallWait,
                            [this] { return stopping_ || stalledRequests_ > 0; });
    answerJSON(response, json{{"stalled", stalledRequests_}});
}

}  // namespace quaylet::devservice
