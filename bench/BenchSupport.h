#pragma once

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace quaylet::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Both sides of a row run in the same iteration. The row's figure is the median of the
// iterations' ratios, so that one stall of the machine's disk, on either side, moves one ratio
// and not the figure.
inline double medianRatio(const std::vector<double>& ours, const std::vector<double>& theirs) {
    std::vector<double> ratios;
    for (std::size_t index = 0; index < ours.size(); ++index) {
        ratios.push_back(ours[index] / theirs[index]);
    }
    return median(ratios);
}

// A scratch folder under TMPDIR for the generated inputs, made once per run and removed at
// exit.
inline const std::filesystem::path& scratchFolder() {
    static const struct Scratch {
        std::filesystem::path path;
        Scratch() {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "quaylet-bench-XXXXXX").string();
            if (mkdtemp(pattern.data()) == nullptr) {
                throw std::system_error(errno, std::generic_category(), "mkdtemp");
            }
            path = pattern;
        }
        ~Scratch() {
            std::error_code ignored;  // leftovers in a temporary folder are harmless
            std::filesystem::remove_all(path, ignored);
        }
    } scratch;
    return scratch.path;
}

// Pseudo-random bytes, which no compressor can shrink; the seed makes them repeatable.
inline void writeRandomFile(const std::filesystem::path& file, std::uintmax_t size,
                            std::uint64_t seed) {
    std::ofstream output(file, std::ios::binary);
    std::mt19937_64 random(seed);
    std::vector<std::uint64_t> block(1 << 17);
    for (std::uintmax_t written = 0; written < size;) {
        for (auto& word : block) {
            word = random();
        }
        const auto length =
            std::min<std::uintmax_t>(size - written, block.size() * sizeof(block[0]));
        output.write(reinterpret_cast<const char*>(block.data()),
                     static_cast<std::streamsize>(length));
        written += length;
    }
    if (!output.flush()) {
        throw std::system_error(errno, std::generic_category(), "writing " + file.string());
    }
}

}  // namespace quaylet::bench
