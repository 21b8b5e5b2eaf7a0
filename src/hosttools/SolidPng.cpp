#include "hosttools/SolidPng.h"

#include <zlib.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/support/SystemError.h"

namespace quaylet::hosttools {
namespace {

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// A chunk is its length, type, data and a CRC over type and data.
void appendChunk(std::vector<std::uint8_t>& out, std::string_view type,
                 const std::vector<std::uint8_t>& data) {
    appendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeStart = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc =
        ::crc32(0L, out.data() + typeStart, static_cast<uInt>(out.size() - typeStart));
    appendBigEndian(out, static_cast<std::uint32_t>(crc));
}

std::vector<std::uint8_t> compressedScanlines(std::uint32_t width, std::uint32_t height,
                                              Rgb colour) {
    std::vector<std::uint8_t> row{0};  // filter type 0: the bytes as they are
    for (std::uint32_t x = 0; x < width; ++x) {
        row.insert(row.end(), {colour.red, colour.green, colour.blue});
    }
    std::vector<std::uint8_t> raw;
    raw.reserve(row.size() * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        raw.insert(raw.end(), row.begin(), row.end());
    }
    uLongf size = ::compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> compressed(size);
    if (::compress2(compressed.data(), &size, raw.data(), static_cast<uLong>(raw.size()),
                    Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("cannot compress the image");
    }
    compressed.resize(size);
    return compressed;
}

}  // namespace

void writeSolidPng(const std::filesystem::path& file, std::uint32_t width, std::uint32_t height,
                   Rgb colour) {
    static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<std::uint8_t> png(std::begin(kSignature), std::end(kSignature));
    std::vector<std::uint8_t> header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no interlace
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", compressedScanlines(width, height, colour));
    appendChunk(png, "IEND", {});

    std::ofstream output(file, std::ios::binary | std::ios::trunc);
    output.write(reinterpret_cast<const char*>(png.data()),
                 static_cast<std::streamsize>(png.size()));
    output.close();
    if (!output) {
        throw systemError("cannot write " + file.string());
    }
}

}  // namespace quaylet::hosttools
