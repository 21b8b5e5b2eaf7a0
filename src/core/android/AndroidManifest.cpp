#include "core/android/AndroidManifest.h"

#include <string>
#include <utility>
#include <vector>

#include "core/support/Text.h"

namespace quaylet {
namespace {

// Chunk types of the compiled XML format.
constexpr std::uint16_t kXmlType = 0x0003;
constexpr std::uint16_t kStringPoolType = 0x0001;
constexpr std::uint16_t kResourceMapType = 0x0180;
constexpr std::uint16_t kStartNamespaceType = 0x0100;
constexpr std::uint16_t kEndNamespaceType = 0x0101;
constexpr std::uint16_t kStartElementType = 0x0102;
constexpr std::uint16_t kEndElementType = 0x0103;
constexpr std::uint16_t kCdataType = 0x0104;

constexpr std::uint64_t kChunkHeaderSize = 8;
constexpr std::uint64_t kStringPoolHeaderSize = 28;
constexpr std::uint64_t kNodeHeaderSize = 16;
constexpr std::uint64_t kElementExtensionSize = 20;
constexpr std::uint64_t kAttributeSize = 20;
constexpr std::uint64_t kTypedValueSize = 8;

constexpr std::uint32_t kNoString = 0xFFFFFFFF;
constexpr std::uint32_t kUtf8PoolFlag = 1U << 8;

constexpr std::uint8_t kTypeString = 0x03;
constexpr std::uint8_t kTypeIntDecimal = 0x10;
constexpr std::uint8_t kTypeIntHexadecimal = 0x11;

// The framework's attribute resources: the tools may rename or strip attribute names, so
// the resource map, where present, is what identifies an attribute.
constexpr std::uint32_t kVersionCodeId = 0x0101021b;
constexpr std::uint32_t kVersionNameId = 0x0101021c;
constexpr std::uint32_t kMinSdkVersionId = 0x0101020c;
constexpr std::string_view kAndroidNamespace = "http://schemas.android.com/apk/res/android";

struct Malformed {};

void require(bool condition) {
    if (!condition) {
        throw Malformed{};
    }
}

// Little-endian reads in which any access outside the bytes is malformed.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::uint64_t size() const { return bytes_.size(); }

    bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }

    std::string_view slice(std::uint64_t offset, std::uint64_t length) const {
        require(contains(offset, length));
        return bytes_.substr(offset, length);
    }

    std::uint32_t little(std::uint64_t offset, std::size_t width) const {
        const std::string_view piece = slice(offset, width);
        std::uint32_t value = 0;
        for (std::size_t index = width; index-- > 0;) {
            value = (value << 8) | static_cast<unsigned char>(piece[index]);
        }
        return value;
    }
    std::uint8_t u8(std::uint64_t offset) const { return std::uint8_t(little(offset, 1)); }
    std::uint16_t u16(std::uint64_t offset) const { return std::uint16_t(little(offset, 2)); }
    std::uint32_t u32(std::uint64_t offset) const { return little(offset, 4); }

  private:
    std::string_view bytes_;
};

void appendUtf8(std::string& text, char32_t codePoint) {
    if (codePoint < 0x80) {
        text += char(codePoint);
    } else if (codePoint < 0x800) {
        text += char(0xC0 | (codePoint >> 6));
        text += char(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += char(0xE0 | (codePoint >> 12));
        text += char(0x80 | ((codePoint >> 6) & 0x3F));
        text += char(0x80 | (codePoint & 0x3F));
    } else {
        text += char(0xF0 | (codePoint >> 18));
        text += char(0x80 | ((codePoint >> 12) & 0x3F));
        text += char(0x80 | ((codePoint >> 6) & 0x3F));
        text += char(0x80 | (codePoint & 0x3F));
    }
}

// The string pool. Every string's length prefix and terminator are checked when the pool is
// read; a string's characters only when it is read, since strings may share their bytes and
// decoding each in full could cost far more than the document's size.
class StringPool {
  public:
    StringPool(const Reader& chunk, std::uint64_t headerSize) {
        require(headerSize >= kStringPoolHeaderSize);
        const std::uint32_t stringCount = chunk.u32(8);
        const std::uint32_t styleCount = chunk.u32(12);
        utf8_ = (chunk.u32(16) & kUtf8PoolFlag) != 0;
        const std::uint32_t stringsStart = chunk.u32(20);
        const std::uint32_t stylesStart = chunk.u32(24);
        const std::uint64_t offsetsEnd = headerSize + 4 * (std::uint64_t{stringCount} + styleCount);
        require(offsetsEnd <= chunk.size());
        if (stringCount == 0) {
            return;
        }
        const std::uint64_t stringsEnd = styleCount > 0 ? stylesStart : chunk.size();
        require(offsetsEnd <= stringsStart && stringsStart <= stringsEnd &&
                stringsEnd <= chunk.size());
        const Reader area(chunk.slice(stringsStart, stringsEnd - stringsStart));
        strings_.reserve(stringCount);
        for (std::uint32_t index = 0; index < stringCount; ++index) {
            strings_.push_back(locate(area, chunk.u32(headerSize + 4 * std::uint64_t{index})));
        }
    }

    std::uint32_t count() const { return static_cast<std::uint32_t>(strings_.size()); }

    void requireIndex(std::uint32_t index) const { require(index < strings_.size()); }
    void requireOptionalIndex(std::uint32_t index) const {
        require(index == kNoString || index < strings_.size());
    }

    // Whether the string is exactly the given ASCII text; only strings of its length are read.
    bool equals(std::uint32_t index, std::string_view ascii) const {
        if (index == kNoString) {
            return false;
        }
        requireIndex(index);
        const Located& string = strings_[index];
        if (string.units.size() != (utf8_ ? 1 : 2) * ascii.size()) {
            return false;
        }
        return text(index) == ascii;
    }

    // The string as UTF-8; malformed when its characters are not valid UTF-8 or UTF-16, or
    // hold a NUL, which would cut the text short wherever it is passed on.
    std::string text(std::uint32_t index) const {
        requireIndex(index);
        const std::string_view units = strings_[index].units;
        if (utf8_) {
            require(decodeUtf8Lossy(units) == units && units.find('\0') == std::string_view::npos);
            return std::string(units);
        }
        const Reader reader(units);
        std::string text;
        for (std::uint64_t offset = 0; offset < reader.size(); offset += 2) {
            char32_t codePoint = reader.u16(offset);
            if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
                offset += 2;
                const char32_t low = reader.u16(offset);
                require(low >= 0xDC00 && low <= 0xDFFF);
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
            } else {
                require(codePoint != 0 && (codePoint < 0xDC00 || codePoint > 0xDFFF));
            }
            appendUtf8(text, codePoint);
        }
        return text;
    }

  private:
    struct Located {
        std::string_view units;  // the string's code units, without prefix or terminator
    };

    // A UTF-8 string opens with its length in UTF-16 units, then in bytes, each in one byte,
    // or two when the first has its high bit set; a UTF-16 string with its length in units, in
    // one unit or two. Both end in a zero unit.
    Located locate(const Reader& area, std::uint32_t offset) const {
        std::uint64_t at = offset;
        if (utf8_) {
            const auto length8 = [&] {
                std::uint32_t length = area.u8(at++);
                if ((length & 0x80) != 0) {
                    length = ((length & 0x7F) << 8) | area.u8(at++);
                }
                return length;
            };
            length8();  // the UTF-16 length, which nothing here needs
            const std::uint32_t bytes = length8();
            const std::string_view units = area.slice(at, bytes);
            require(area.u8(at + bytes) == 0);
            return {units};
        }
        std::uint32_t length = area.u16(at);
        at += 2;
        if ((length & 0x8000) != 0) {
            length = ((length & 0x7FFF) << 16) | area.u16(at);
            at += 2;
        }
        const std::string_view units = area.slice(at, 2 * std::uint64_t{length});
        require(area.u16(at + 2 * std::uint64_t{length}) == 0);
        return {units};
    }

    bool utf8_ = false;
    std::vector<Located> strings_;
};

struct TypedValue {
    std::uint8_t type = 0;
    std::uint32_t data = 0;
};

TypedValue readTypedValue(const Reader& chunk, std::uint64_t offset, const StringPool& pool) {
    require(chunk.u16(offset) >= kTypedValueSize && chunk.u8(offset + 2) == 0);
    const TypedValue value{chunk.u8(offset + 3), chunk.u32(offset + 4)};
    if (value.type == kTypeString) {
        pool.requireIndex(value.data);
    }
    return value;
}

bool isInteger(const TypedValue& value) {
    return value.type == kTypeIntDecimal || value.type == kTypeIntHexadecimal;
}

class ManifestReader {
  public:
    AndroidManifest read(const Reader& document) {
        require(document.u16(0) == kXmlType && document.u16(2) == kChunkHeaderSize &&
                document.u32(4) == document.size());
        std::uint64_t offset = kChunkHeaderSize;
        while (offset < document.size()) {
            require(document.contains(offset, kChunkHeaderSize));
            const std::uint16_t type = document.u16(offset);
            const std::uint16_t headerSize = document.u16(offset + 2);
            const std::uint32_t size = document.u32(offset + 4);
            require(headerSize >= kChunkHeaderSize && headerSize <= size);
            readChunk(Reader(document.slice(offset, size)), type, headerSize);
            offset += size;
        }
        require(rootClosed_ && namespaces_.empty());
        return manifest_;
    }

  private:
    struct OpenElement {
        std::uint32_t ns;
        std::uint32_t name;
    };
    struct OpenNamespace {
        std::uint32_t prefix;
        std::uint32_t uri;
    };

    void readChunk(const Reader& chunk, std::uint16_t type, std::uint64_t headerSize) {
        if (type == kStringPoolType) {
            require(!pool_);
            pool_.emplace(chunk, headerSize);
            return;
        }
        // Everything else refers to the strings.
        require(pool_.has_value());
        if (type == kResourceMapType) {
            require(!resourceMapRead_ && !nodeRead_ && (chunk.size() - headerSize) % 4 == 0);
            resourceMapRead_ = true;
            for (std::uint64_t offset = headerSize; offset < chunk.size(); offset += 4) {
                resourceIds_.push_back(chunk.u32(offset));
            }
            return;
        }
        nodeRead_ = true;
        require(headerSize >= kNodeHeaderSize);
        pool_->requireOptionalIndex(chunk.u32(12));  // the comment
        const Reader extension(chunk.slice(headerSize, chunk.size() - headerSize));
        switch (type) {
            case kStartNamespaceType:
            case kEndNamespaceType:
                readNamespace(extension, type == kStartNamespaceType);
                break;
            case kStartElementType:
                readStartElement(chunk, headerSize);
                break;
            case kEndElementType:
                require(!elements_.empty() && extension.u32(0) == elements_.back().ns &&
                        extension.u32(4) == elements_.back().name);
                elements_.pop_back();
                rootClosed_ = elements_.empty();
                break;
            case kCdataType:
                require(!elements_.empty());
                pool_->requireIndex(extension.u32(0));
                readTypedValue(extension, 4, *pool_);
                break;
            default:
                throw Malformed{};
        }
    }

    void readNamespace(const Reader& extension, bool start) {
        const OpenNamespace current{extension.u32(0), extension.u32(4)};
        pool_->requireOptionalIndex(current.prefix);
        pool_->requireIndex(current.uri);
        if (start) {
            namespaces_.push_back(current);
            return;
        }
        require(!namespaces_.empty() && namespaces_.back().prefix == current.prefix &&
                namespaces_.back().uri == current.uri);
        namespaces_.pop_back();
    }

    void readStartElement(const Reader& chunk, std::uint64_t headerSize) {
        const std::uint64_t at = headerSize;
        const OpenElement element{chunk.u32(at), chunk.u32(at + 4)};
        pool_->requireOptionalIndex(element.ns);
        pool_->requireIndex(element.name);
        const std::uint16_t attributeStart = chunk.u16(at + 8);
        const std::uint16_t attributeSize = chunk.u16(at + 10);
        const std::uint16_t attributeCount = chunk.u16(at + 12);
        for (const std::uint64_t special : {at + 14, at + 16, at + 18}) {
            require(chunk.u16(special) <= attributeCount);  // 1-based; 0 for none
        }
        require(attributeStart >= kElementExtensionSize && attributeSize >= kAttributeSize);
        require(chunk.contains(at + attributeStart, std::uint64_t{attributeSize} * attributeCount));

        const bool isRoot = elements_.empty();
        require(!isRoot || !rootClosed_);  // one root element only
        const bool isManifest = isRoot && isPlain(element, "manifest");
        require(!isRoot || isManifest);
        const bool isUsesSdk = elements_.size() == 1 && isPlain(element, "uses-sdk");
        elements_.push_back(element);

        for (std::uint64_t index = 0; index < attributeCount; ++index) {
            const std::uint64_t attribute = at + attributeStart + index * attributeSize;
            const std::uint32_t ns = chunk.u32(attribute);
            const std::uint32_t name = chunk.u32(attribute + 4);
            pool_->requireOptionalIndex(ns);
            pool_->requireIndex(name);
            pool_->requireOptionalIndex(chunk.u32(attribute + 8));  // the raw text
            const TypedValue value = readTypedValue(chunk, attribute + 12, *pool_);
            const auto text = [&] { return stringOf(value); };
            const auto integer = [&]() -> std::optional<std::int32_t> {
                return isInteger(value) ? std::optional(std::int32_t(value.data)) : std::nullopt;
            };
            if (isManifest && ns == kNoString && pool_->equals(name, "package")) {
                assignOnce(manifest_.packageName, text);
            } else if (isManifest && isAndroidAttribute(ns, name, kVersionCodeId, "versionCode")) {
                assignOnce(manifest_.versionCode, integer);
            } else if (isManifest && isAndroidAttribute(ns, name, kVersionNameId, "versionName")) {
                assignOnce(manifest_.versionName, text);
            } else if (isUsesSdk &&
                       isAndroidAttribute(ns, name, kMinSdkVersionId, "minSdkVersion")) {
                assignOnce(manifest_.minSdkVersion, [&] {
                    const std::optional<std::int32_t> level = integer();
                    if (level) {
                        return std::optional(std::to_string(*level));
                    }
                    // A value of another type (a resource reference) is there but no number.
                    return value.type == kTypeString ? text() : std::optional<std::string>("");
                });
            }
        }
    }

    // The first usable value decides. Later ones are not even decoded, so an attribute repeated
    // many times over one long string cannot multiply the work.
    template <typename T, typename Read>
    static void assignOnce(std::optional<T>& field, const Read& read) {
        if (!field) {
            field = read();
        }
    }

    std::optional<std::string> stringOf(const TypedValue& value) const {
        if (value.type != kTypeString) {
            return std::nullopt;
        }
        return pool_->text(value.data);
    }

    bool isPlain(const OpenElement& element, std::string_view name) const {
        return element.ns == kNoString && pool_->equals(element.name, name);
    }

    bool isAndroidAttribute(std::uint32_t ns, std::uint32_t name, std::uint32_t resourceId,
                            std::string_view plainName) const {
        if (name < resourceIds_.size() && resourceIds_[name] != 0) {
            return resourceIds_[name] == resourceId;
        }
        return pool_->equals(ns, kAndroidNamespace) && pool_->equals(name, plainName);
    }

    std::optional<StringPool> pool_;
    std::vector<std::uint32_t> resourceIds_;
    bool resourceMapRead_ = false;
    bool nodeRead_ = false;
    bool rootClosed_ = false;
    std::vector<OpenElement> elements_;
    std::vector<OpenNamespace> namespaces_;
    AndroidManifest manifest_;
};

}  // namespace

std::optional<AndroidManifest> AndroidManifest::parse(std::string_view bytes) {
    if (bytes.size() > kMaxSize) {
        return std::nullopt;
    }
    try {
        return ManifestReader().read(Reader(bytes));
    } catch (const Malformed&) {
        return std::nullopt;
    }
}

}  // namespace quaylet
