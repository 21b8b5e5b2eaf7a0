#include "core/support/Text.h"

#include <array>
#include <cstdint>

namespace quaylet {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of bytes, or the length of its
// maximal invalid subpart negated (at least 1) when it is not well formed.
int sequenceLength(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    int length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return -1;
    }
    for (int i = 1; i < length; ++i) {
        if (static_cast<std::size_t>(i) >= bytes.size()) {
            return -i;
        }
        const std::uint8_t next = byte(i);
        const bool valid = i == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
        if (!valid) {
            return -i;
        }
    }
    return length;
}

// Decodes the scalar value of the well-formed sequence at the start of text.
char32_t scalarAt(std::string_view text, int length) {
    const auto byte = [&](int i) {
        return static_cast<char32_t>(static_cast<std::uint8_t>(text[i]));
    };
    switch (length) {
        case 1:
            return byte(0);
        case 2:
            return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
        case 3:
            return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        default:
            return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 |
                   (byte(3) & 0x3F);
    }
}

bool isWhiteSpace(char32_t scalar) {
    constexpr std::array<char32_t, 8> kUnicodeSpaces = {0x85,   0xA0,   0x1680, 0x2028,
                                                        0x2029, 0x202F, 0x205F, 0x3000};
    if (scalar == ' ' || (scalar >= 0x09 && scalar <= 0x0D)) {
        return true;
    }
    if (scalar >= 0x2000 && scalar <= 0x200A) {
        return true;
    }
    for (const char32_t space : kUnicodeSpaces) {
        if (scalar == space) {
            return true;
        }
    }
    return false;
}

bool drivesTheDisplay(char32_t scalar) {
    const bool isControl = scalar < 0x20 || (scalar >= 0x7F && scalar <= 0x9F);
    const bool isSeparator = scalar == 0x2028 || scalar == 0x2029;
    const bool isBidiControl = scalar == 0x061C || scalar == 0x200E || scalar == 0x200F ||
                               (scalar >= 0x202A && scalar <= 0x202E) ||
                               (scalar >= 0x2066 && scalar <= 0x2069);
    return isControl || isSeparator || isBidiControl;
}

}  // namespace

std::string inertText(std::string_view bytes) {
    const std::string text = decodeUtf8Lossy(bytes);
    std::string inert;
    inert.reserve(text.size());
    std::string_view rest = text;
    while (!rest.empty()) {
        // Every sequence is well formed after decoding.
        const auto length = static_cast<std::size_t>(sequenceLength(rest));
        const std::string_view sequence = rest.substr(0, length);
        inert.append(drivesTheDisplay(scalarAt(sequence, static_cast<int>(length))) ? kReplacement
                                                                                    : sequence);
        rest.remove_prefix(length);
    }
    return inert;
}

std::optional<char32_t> decodeUtf8At(std::string_view text, std::size_t& index) {
    const std::string_view rest = text.substr(index);
    const int length = sequenceLength(rest);
    if (length <= 0) {
        return std::nullopt;
    }
    index += static_cast<std::size_t>(length);
    return scalarAt(rest, length);
}

std::string decodeUtf8Lossy(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        const int length = sequenceLength(bytes);
        if (length > 0) {
            text.append(bytes.substr(0, static_cast<std::size_t>(length)));
            bytes.remove_prefix(static_cast<std::size_t>(length));
        } else {
            text.append(kReplacement);
            bytes.remove_prefix(static_cast<std::size_t>(-length));
        }
    }
    return text;
}

std::string percentEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

std::string_view trimmed(std::string_view text) {
    // Walks well-formed sequences only; an invalid byte is not white space and stops the walk.
    std::size_t start = 0;
    while (start < text.size()) {
        const int length = sequenceLength(text.substr(start));
        if (length <= 0 || !isWhiteSpace(scalarAt(text.substr(start), length))) {
            break;
        }
        start += static_cast<std::size_t>(length);
    }
    std::size_t end = text.size();
    while (end > start) {
        // Step back to the lead byte of the last sequence.
        std::size_t lead = end - 1;
        while (lead > start && (static_cast<std::uint8_t>(text[lead]) & 0xC0) == 0x80 &&
               end - lead < 4) {
            --lead;
        }
        const std::string_view last = text.substr(lead, end - lead);
        const int length = sequenceLength(last);
        if (length <= 0 || static_cast<std::size_t>(length) != last.size() ||
            !isWhiteSpace(scalarAt(last, length))) {
            break;
        }
        end = lead;
    }
    return text.substr(start, end - start);
}

}  // namespace quaylet
