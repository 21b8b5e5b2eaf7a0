#pragma once

#include <httplib.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quaylet::testing {

// A web server on 127.0.0.1 that answers each path with its body, or its redirect, or 404,
// and notes every path asked for.
class WebServer {
  public:
    WebServer() {
        server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(mutex_);
                requested_.push_back(request.path);
            }
            if (const auto moved = redirects.find(request.path); moved != redirects.end()) {
                response.set_redirect(moved->second);
            } else if (const auto body = bodies.find(request.path); body != bodies.end()) {
                response.set_content(body->second, "application/rss+xml");
            } else {
                response.status = 404;
            }
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~WebServer() {
        server_.stop();
        thread_.join();
    }

    std::string address(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> requestedPaths() {
        std::lock_guard lock(mutex_);
        return requested_;
    }

    // Set before the first request.
    std::map<std::string, std::string> bodies;
    std::map<std::string, std::string> redirects;

  private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requested_;
};

}  // namespace quaylet::testing
