#include "core/android/AndroidManifest.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fixtures/ApkBuilder.h"

namespace quaylet {
namespace {

using fixtures::ApkBuilder;

std::uint32_t read32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t index = 4; index-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + index]);
    }
    return value;
}

std::string& write(std::string& bytes, std::size_t at, std::uint32_t value, int width = 4) {
    for (int index = 0; index < width; ++index, value >>= 8) {
        bytes[at + index] = static_cast<char>(value & 0xFF);
    }
    return bytes;
}

// The offset of the first or last top-level chunk of a type.
std::size_t chunkOf(const std::string& bytes, std::uint16_t type, bool last = false) {
    std::size_t found = 0;
    for (std::size_t at = 8; at < bytes.size(); at += read32(bytes, at + 4)) {
        if ((read32(bytes, at) & 0xFFFF) == type && (last || found == 0)) {
            found = at;
        }
    }
    return found;
}

std::size_t find16(const std::string& bytes, std::string_view ascii) {
    std::string units;
    for (const char character : ascii) {
        units += {character, '\0'};
    }
    return bytes.find(units);
}

TEST(AndroidManifestTest, ReadsWhatTheBuildDeclares) {
    const AndroidManifest standard{"com.example.demo", 1, "1.0", "24"};
    EXPECT_EQ(AndroidManifest::parse(ApkBuilder().manifestBytes()), standard);
    EXPECT_EQ(AndroidManifest::parse(ApkBuilder{.utf8Strings = true}.manifestBytes()), standard);
    const ApkBuilder sparse{.packageName = {}, .versionName = {}, .minSdkVersion = "Tiramisu"};
    EXPECT_EQ(AndroidManifest::parse(sparse.manifestBytes()),
              (AndroidManifest{{}, 1, {}, "Tiramisu"}));
    EXPECT_EQ(
        AndroidManifest::parse(ApkBuilder{.minSdkVersion = {}}.manifestBytes())->minSdkVersion,
        std::nullopt);
    // A minimum given as a resource reference is there, but names no level.
    std::string reference = ApkBuilder().manifestBytes();
    const std::size_t usesSdk =
        chunkOf(reference, 0x0102) + read32(reference, chunkOf(reference, 0x0102) + 4);
    EXPECT_EQ(AndroidManifest::parse(write(reference, usesSdk + 36 + 15, 0x01, 1))->minSdkVersion,
              "");
}

TEST(AndroidManifestTest, RefusesEveryMalformedDocument) {
    const std::string base = ApkBuilder().manifestBytes();
    const std::size_t strings = 8 + read32(base, 28);
    const std::size_t manifest = chunkOf(base, 0x0102);
    const std::size_t lastEnd = chunkOf(base, 0x0103, true);
    const std::pair<const char*, std::function<std::string(std::string)>> cases[] = {
        {"empty", [](std::string) { return std::string(); }},
        {"bytes past the document", [](std::string b) { return b + std::string(8, '\0'); }},
        {"last chunk cut short",
         [](std::string b) { return write(b, 4, b.size() - 4).substr(0, b.size() - 4); }},
        {"chunk header under 8 bytes", [](std::string b) { return write(b, 10, 4, 2); }},
        {"string count past the pool", [](std::string b) { return write(b, 16, 1U << 28); }},
        {"string offset past the strings", [](std::string b) { return write(b, 36, 1U << 24); }},
        {"string without terminator",
         [&](std::string b) { return write(b, strings + 2 + 2 * 11, 'x', 2); }},
        {"unpaired surrogate",
         [](std::string b) { return write(b, find16(b, "com.example"), 0xD800, 2); }},
        {"invalid UTF-8",
         [](std::string) {
             std::string b = ApkBuilder{.utf8Strings = true}.manifestBytes();
             return write(b, b.find("com.example"), 0xFF, 1);
         }},
        {"root is not manifest",
         [](std::string b) { return write(b, find16(b, "manifest"), 'x', 2); }},
        {"end names another element", [&](std::string b) { return write(b, lastEnd + 20, 0); }},
        {"unknown chunk type", [&](std::string b) { return write(b, lastEnd, 0x0105, 2); }},
        {"value index past the strings",
         [&](std::string b) { return write(b, manifest + 36 + 2 * 20 + 16, 0xFFFF); }},
        {"attributes past the element",
         [&](std::string b) { return write(b, manifest + 16 + 12, 100, 2); }},
    };
    for (const auto& [name, spoil] : cases) {
        EXPECT_EQ(AndroidManifest::parse(spoil(base)), std::nullopt) << name;
    }
}

}  // namespace
}  // namespace quaylet
