#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quaylet {

// What an app's AndroidManifest.xml declares that a launch needs, read from the compiled
// (binary) XML that every .apk carries. A value of an unexpected type counts as missing, but
// for the minimum SDK.
struct AndroidManifest {
    std::optional<std::string> packageName;   // package of <manifest>
    std::optional<std::int64_t> versionCode;  // android:versionCode
    std::optional<std::string> versionName;   // android:versionName, when written as text
    // android:minSdkVersion of <uses-sdk> as written: an integer in decimal, or the text of a
    // string value (which a preview codename is); empty for a value of any other type, which is
    // there but names no level.
    std::optional<std::string> minSdkVersion;

    // Absent unless the bytes are one well-formed compiled XML document whose root element is
    // <manifest>: every chunk, offset, count and string inside the bytes, elements balanced.
    // Accepts any bytes.
    static std::optional<AndroidManifest> parse(std::string_view bytes);

    // Manifests larger than this are not read: real ones are a few kilobytes.
    static constexpr std::uint64_t kMaxSize = 8 * 1024 * 1024;

    bool operator==(const AndroidManifest&) const = default;
};

}  // namespace quaylet
