#include "core/support/JsonReader.h"

#include <cmath>
#include <limits>

namespace quaylet {
namespace {

using Kind = DecodingError::Kind;
using Type = simdjson::dom::element_type;

const char* describeType(JsonValue value) {
    switch (value.type()) {
        case Type::NULL_VALUE:
            return "null";
        case Type::BOOL:
            return "a boolean";
        case Type::INT64:
        case Type::UINT64:
        case Type::DOUBLE:
            return "a number";
        case Type::STRING:
            return "a string";
        case Type::ARRAY:
            return "an array";
        case Type::OBJECT:
            return "an object";
    }
    return "an unreadable value";
}

}  // namespace

DecodingError jsonTypeMismatch(const std::string& path, const char* expected, JsonValue found) {
    return DecodingError(
        Kind::typeMismatch, path,
        std::string("Expected ") + expected + " but found " + describeType(found) + " instead.");
}

std::string jsonMemberPath(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string jsonElementPath(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

std::string readString(JsonValue value, const std::string& path) {
    if (!value.is_string()) {
        throw jsonTypeMismatch(path, "a string", value);
    }
    return std::string(value.get_string().value_unsafe());
}

bool readBoolean(JsonValue value, const std::string& path) {
    if (!value.is_bool()) {
        throw jsonTypeMismatch(path, "a boolean", value);
    }
    return value.get_bool().value_unsafe();
}

std::int64_t readInteger(JsonValue value, const std::string& path) {
    switch (value.type()) {
        case Type::INT64:
            return value.get_int64().value_unsafe();
        case Type::UINT64:  // only numbers above the signed range are stored unsigned
            throw DecodingError(
                Kind::dataCorrupted, path,
                "The number " + simdjson::to_string(value) + " does not fit in 64 bits.");
        case Type::DOUBLE: {
            // A written-out fraction such as 3.0 is an integer, but only where a double holds
            // every integer exactly; beyond 2^53 the digits sent may not be the value read.
            constexpr double kLargestExactInteger = 9007199254740992.0;
            const double number = value.get_double().value_unsafe();
            if (std::trunc(number) != number || std::fabs(number) > kLargestExactInteger) {
                throw DecodingError(
                    Kind::dataCorrupted, path,
                    "The number " + simdjson::to_string(value) + " is not an integer.");
            }
            return std::int64_t(number);
        }
        default:
            throw jsonTypeMismatch(path, "an integer", value);
    }
}

JsonObjectReader::JsonObjectReader(JsonValue value, std::string path) : path_(std::move(path)) {
    if (!value.is_object()) {
        throw jsonTypeMismatch(path_, "an object", value);
    }
    object_ = value.get_object().value_unsafe();
}

std::optional<JsonValue> JsonObjectReader::member(std::string_view key) const {
    std::optional<JsonValue> found;
    for (const simdjson::dom::key_value_pair member : object_) {
        if (member.key == key) {
            found = member.value;
        }
    }
    return found;
}

JsonValue parseJsonDocument(simdjson::dom::parser& parser, std::string_view text) {
    const simdjson::simdjson_result<JsonValue> root = parser.parse(text.data(), text.size());
    if (root.error() != simdjson::SUCCESS) {
        throw DecodingError(Kind::dataCorrupted, "",
                            std::string("The given data was not valid JSON. ") +
                                simdjson::error_message(root.error()));
    }
    return root.value_unsafe();
}

}  // namespace quaylet
