#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <simdjson.h>

#include "core/errors/DecodingError.h"

// The one strict reader of JSON from outside: the preview service's answers and the
// simulator tool's listing. The whole text is validated (syntax, UTF-8, numbers, depth) before
// anything is read, in one pass over its bytes with no node allocated per value. Each reader
// below turns one value into one field's type, or throws DecodingError naming the key path and
// the reason:
// - required keys must be present, non-null and of their type; optional keys may be missing
//   or null (both absent); keys nobody asks for are ignored; a key given twice reads as its
//   last value;
// - an integer is a JSON number with an integral value in signed 64 bits (3.0 counts).
namespace quaylet {

using JsonValue = simdjson::dom::element;

DecodingError jsonTypeMismatch(const std::string& path, const char* expected, JsonValue found);

std::string readString(JsonValue value, const std::string& path);
bool readBoolean(JsonValue value, const std::string& path);
std::int64_t readInteger(JsonValue value, const std::string& path);

std::string jsonMemberPath(const std::string& path, std::string_view key);
std::string jsonElementPath(const std::string& path, std::size_t index);

template <typename Read>
auto readList(Read readElement) {
    return [readElement](JsonValue value, const std::string& path) {
        if (!value.is_array()) {
            throw jsonTypeMismatch(path, "an array", value);
        }
        const simdjson::dom::array array = value.get_array().value_unsafe();
        std::vector<decltype(readElement(value, path))> elements;
        elements.reserve(array.size());
        std::size_t index = 0;
        for (const JsonValue element : array) {
            elements.push_back(readElement(element, jsonElementPath(path, index++)));
        }
        return elements;
    };
}

// One JSON object and where it sits in the document.
class JsonObjectReader {
  public:
    JsonObjectReader(JsonValue value, std::string path);

    template <typename Read>
    auto required(std::string_view key, Read read) const {
        std::string path = jsonMemberPath(path_, key);
        const std::optional<JsonValue> value = member(key);
        if (!value) {
            throw DecodingError(DecodingError::Kind::keyNotFound, std::move(path),
                                "No value associated with the key \"" + std::string(key) + "\".");
        }
        if (value->is_null()) {
            throw DecodingError(DecodingError::Kind::valueNotFound, std::move(path),
                                "Expected a value but found null.");
        }
        return read(*value, path);
    }

    template <typename Read>
    auto optional(std::string_view key, Read read) const
        -> std::optional<decltype(read(std::declval<JsonValue>(), std::string()))> {
        const std::optional<JsonValue> value = member(key);
        if (!value || value->is_null()) {
            return std::nullopt;
        }
        return read(*value, jsonMemberPath(path_, key));
    }

    // Every member in document order, for objects keyed by data rather than by field names;
    // each one's path quotes its key.
    template <typename Visit>
    void forEachMember(Visit visit) const {
        for (const simdjson::dom::key_value_pair member : object_) {
            visit(member.key, member.value, path_ + "[\"" + std::string(member.key) + "\"]");
        }
    }

  private:
    std::optional<JsonValue> member(std::string_view key) const;

    simdjson::dom::object object_;
    std::string path_;
};

JsonValue parseJsonDocument(simdjson::dom::parser& parser, std::string_view text);

// Validates the whole text and hands its root, at the empty key path, to read. No value may
// outlive the call: they all point into the parser's buffers.
template <typename Read>
auto readJsonDocument(std::string_view text, Read read) {
    simdjson::dom::parser parser;
    return read(parseJsonDocument(parser, text), std::string());
}

}  // namespace quaylet
