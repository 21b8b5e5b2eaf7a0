#pragma once

#include <cstdint>
#include <filesystem>

namespace quaylet::hosttools {

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

// Writes a valid PNG of one colour (8-bit RGB, zlib-compressed), standing in for a screenshot.
void writeSolidPng(const std::filesystem::path& file, std::uint32_t width, std::uint32_t height,
                   Rgb colour);

}  // namespace quaylet::hosttools
