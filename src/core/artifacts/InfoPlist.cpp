#include "core/artifacts/InfoPlist.h"

#include <plist/plist.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>

namespace quaylet {
namespace {

using PlistNode = std::unique_ptr<void, decltype(&plist_free)>;

std::optional<std::string> stringValue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    // Read with its length: plist_get_string_val asserts (and so aborts the program) when a
    // binary property list's string holds a NUL. No key read here has one in a real bundle,
    // and a name cut short at a NUL could point at another file, so such a value is refused.
    std::uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    if (value == nullptr) {
        return std::nullopt;
    }
    const std::string_view text(value, length);
    if (text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<std::string> stringForKey(plist_t dictionary, const char* key) {
    return stringValue(plist_dict_get_item(dictionary, key));
}

std::vector<std::string> stringsForKey(plist_t dictionary, const char* key) {
    const plist_t array = plist_dict_get_item(dictionary, key);
    if (array == nullptr || plist_get_node_type(array) != PLIST_ARRAY) {
        return {};
    }
    std::vector<std::string> strings;
    const std::uint32_t count = plist_array_get_size(array);
    for (std::uint32_t index = 0; index < count; ++index) {
        const std::optional<std::string> element = stringValue(plist_array_get_item(array, index));
        if (!element) {
            return {};
        }
        strings.push_back(*element);
    }
    return strings;
}

}  // namespace

std::optional<InfoPlist> InfoPlist::parse(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    const PlistNode owner(root, &plist_free);
    if (root == nullptr || plist_get_node_type(root) != PLIST_DICT) {
        return std::nullopt;
    }
    InfoPlist plist;
    plist.bundleIdentifier = stringForKey(root, "CFBundleIdentifier");
    plist.executableName = stringForKey(root, "CFBundleExecutable");
    plist.displayName = stringForKey(root, "CFBundleDisplayName");
    plist.bundleName = stringForKey(root, "CFBundleName");
    plist.minimumOSVersion = stringForKey(root, "MinimumOSVersion");
    plist.fixtureVersion = stringForKey(root, "QuayletFixtureVersion");
    plist.shortVersion = stringForKey(root, "CFBundleShortVersionString");
    plist.supportedPlatforms = stringsForKey(root, "CFBundleSupportedPlatforms");
    return plist;
}

std::optional<InfoPlist> InfoPlist::load(const std::filesystem::path& file) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size > kMaxFileSize) {
        return std::nullopt;
    }
    std::ifstream input(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(input),
                            std::istreambuf_iterator<char>()};
    if (!input && !input.eof()) {
        return std::nullopt;
    }
    return InfoPlist::parse(bytes);
}

}  // namespace quaylet
