#include "core/support/Redaction.h"

#include <cctype>
#include <nlohmann/json.hpp>
#include <utility>

#include "core/support/Text.h"

namespace quaylet {
namespace {

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// What ends a URL in prose, a log line or a JSON string.
bool endsURL(char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == '"' || c == '\'' || c == '<' ||
           c == '>' || c == '`';
}

std::string withoutQueries(std::string text) {
    for (std::size_t scheme = text.find("://"); scheme != std::string::npos;
         scheme = text.find("://", scheme + 3)) {
        std::size_t end = scheme + 3;
        while (end < text.size() && !endsURL(text[end])) {
            ++end;
        }
        const std::size_t query = text.find('?', scheme + 3);
        if (query != std::string::npos && query < end) {
            text.replace(query + 1, end - query - 1, Redaction::kRedacted);
        }
    }
    return text;
}

bool continuesName(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
}

}  // namespace

Redaction::Redaction(std::vector<std::string> secrets, std::string homeFolder) {
    for (std::string& secret : secrets) {
        if (secret.empty()) {
            continue;
        }
        // The escaped forms are longer or equal, so they go first: each form is then
        // found whole before a shorter one could cut into it.
        std::string json = nlohmann::json(secret).dump();
        secrets_.push_back(json.substr(1, json.size() - 2));
        secrets_.push_back(percentEncoded(secret));
        secrets_.push_back(std::move(secret));
    }
    while (homeFolder.size() > 1 && homeFolder.back() == '/') {
        homeFolder.pop_back();
    }
    if (homeFolder.size() > 1) {
        homeFolder_ = std::move(homeFolder);
    }
}

std::string Redaction::apply(std::string_view original) const {
    std::string text(original);
    for (const std::string& secret : secrets_) {
        replaceAll(text, secret, kRedacted);
    }
    text = withoutQueries(std::move(text));
    if (!homeFolder_.empty()) {
        for (std::size_t at = text.find(homeFolder_); at != std::string::npos;
             at = text.find(homeFolder_, at + 1)) {
            const std::size_t after = at + homeFolder_.size();
            const bool whole = (at == 0 || !continuesName(text[at - 1])) &&
                               (after == text.size() || !continuesName(text[after]));
            if (whole) {
                text.replace(at, homeFolder_.size(), "~");
            }
        }
    }
    return text;
}

}  // namespace quaylet
