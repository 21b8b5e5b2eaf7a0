#include "hosttools/BundleIdentifier.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace quaylet::hosttools {
namespace {

// Info.plist files are a few kilobytes; anything far larger is not one worth parsing.
constexpr std::uintmax_t kMaxInfoPlistBytes = 16 * 1024 * 1024;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};

}  // namespace

std::optional<std::string> readBundleIdentifier(const std::filesystem::path& appBundle) {
    const std::filesystem::path file = appBundle / "Info.plist";
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size == 0 || size > kMaxInfoPlistBytes) {
        return std::nullopt;
    }
    std::ifstream input(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(input), {}};
    if (bytes.size() != size) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    const std::unique_ptr<void, PlistDeleter> owner(root);
    if (root == nullptr || plist_get_node_type(root) != PLIST_DICT) {
        return std::nullopt;
    }
    plist_t value = plist_dict_get_item(root, "CFBundleIdentifier");
    if (value == nullptr || plist_get_node_type(value) != PLIST_STRING) {
        return std::nullopt;
    }
    char* text = nullptr;
    plist_get_string_val(value, &text);
    const std::unique_ptr<char, decltype(&std::free)> textOwner(text, &std::free);
    if (text == nullptr || *text == 0) {
        return std::nullopt;
    }
    return std::string(text);
}

}  // namespace quaylet::hosttools
