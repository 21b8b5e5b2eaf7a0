#include "hosttools/ExecutableArchitectures.h"

#include <fstream>

#include <gtest/gtest.h>

#include "hosttools/HostToolTest.h"

namespace quaylet::hosttools {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

class HeaderBuilder {
  public:
    explicit HeaderBuilder(bool bigEndian) : bigEndian_(bigEndian) {}
    HeaderBuilder& put(std::uint64_t value, int width) {
        for (int index = 0; index < width; ++index) {
            const int shift = 8 * (bigEndian_ ? width - 1 - index : index);
            bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
        }
        return *this;
    }
    HeaderBuilder& padTo(std::size_t size) {
        bytes_.resize(std::max(size, bytes_.size()), 0);
        return *this;
    }
    Bytes bytes() const { return bytes_; }

  private:
    bool bigEndian_;
    Bytes bytes_;
};

constexpr std::uint32_t kArm64 = 0x0100000c;
constexpr std::uint32_t kX86_64 = 0x01000007;

Bytes thinMach(bool wide, std::uint32_t cpuType, std::uint32_t cpuSubtype, bool bigEndian = false) {
    return HeaderBuilder(bigEndian)
        .put(wide ? 0xfeedfacf : 0xfeedface, 4)
        .put(cpuType, 4)
        .put(cpuSubtype, 4)
        .put(2, 4)  // an executable, no load commands
        .padTo(wide ? 32 : 28)
        .bytes();
}

struct Slice {
    std::uint32_t cpuType;
    std::uint32_t cpuSubtype;
    std::uint64_t offset;
    std::uint64_t size;
};

Bytes fat(bool wide, const std::vector<Slice>& slices, std::uint64_t count = 0) {
    HeaderBuilder builder(true);
    builder.put(wide ? 0xcafebabf : 0xcafebabe, 4).put(count ? count : slices.size(), 4);
    for (const Slice& slice : slices) {
        builder.put(slice.cpuType, 4).put(slice.cpuSubtype, 4);
        builder.put(slice.offset, wide ? 8 : 4).put(slice.size, wide ? 8 : 4).put(14, 4);
        if (wide) {
            builder.put(0, 4);
        }
    }
    return builder.bytes();
}

Bytes elf(int elfClass, bool bigEndian, std::uint16_t machine) {
    Bytes header{0x7f,
                 'E',
                 'L',
                 'F',
                 static_cast<std::uint8_t>(elfClass),
                 static_cast<std::uint8_t>(bigEndian ? 2 : 1),
                 1};
    header.resize(16, 0);
    const Bytes typeAndMachine = HeaderBuilder(bigEndian).put(2, 2).put(machine, 2).bytes();
    header.insert(header.end(), typeAndMachine.begin(), typeAndMachine.end());
    header.resize(elfClass == 2 ? 64 : 52, 0);
    return header;
}

Names architectures(const Bytes& bytes, std::uint64_t fileSize = 0) {
    return executableArchitectures(bytes, std::max<std::uint64_t>(fileSize, bytes.size()));
}

TEST(ExecutableArchitecturesTest, NamesEveryHeaderKind) {
    struct Case {
        const char* label;
        Bytes bytes;
        std::uint64_t fileSize;
        Names expected;
    };
    const Case cases[] = {
        {"thin 64-bit arm64", thinMach(true, kArm64, 0), 0, {"arm64"}},
        {"thin 64-bit x86_64", thinMach(true, kX86_64, 3), 0, {"x86_64"}},
        {"x86_64h", thinMach(true, kX86_64, 8), 0, {"x86_64h"}},
        {"arm64e with pointer-auth flags", thinMach(true, kArm64, 0x80000002), 0, {"arm64e"}},
        {"arm64_32", thinMach(false, 0x0200000c, 1), 0, {"arm64_32"}},
        {"thin 32-bit i386", thinMach(false, 7, 3), 0, {"i386"}},
        {"armv7", thinMach(false, 12, 9), 0, {"armv7"}},
        {"armv7s", thinMach(false, 12, 11), 0, {"armv7s"}},
        {"big-endian 32-bit ppc", thinMach(false, 18, 0, true), 0, {"ppc"}},
        {"big-endian 64-bit", thinMach(true, kArm64, 0, true), 0, {"arm64"}},
        {"unknown processor", thinMach(true, 99, 4), 0, {"unknown(99,4)"}},
        {"fat x86_64 + arm64",
         fat(false, {{kX86_64, 3, 4096, 100}, {kArm64, 0, 8192, 100}}),
         8292,
         {"x86_64", "arm64"}},
        {"fat64 arm64e", fat(true, {{kArm64, 2, 16384, 10}}), 16394, {"arm64e"}},
        {"fat slice past the end", fat(false, {{kArm64, 0, 4096, 100}}), 4195, {}},
        {"fat slice offset overflow", fat(true, {{kArm64, 0, ~0ULL, 2}}), 8192, {}},
        {"fat with no slices", fat(false, {}), 4096, {}},
        {"fat count beyond the cap", fat(false, {{kArm64, 0, 4096, 1}}, 65), 1 << 20, {}},
        {"fat table cut short", fat(false, {{kArm64, 0, 4096, 1}}, 2), 1 << 20, {}},
        {"ELF x86-64", elf(2, false, 62), 0, {"x86_64"}},
        {"ELF aarch64", elf(2, false, 183), 0, {"arm64"}},
        {"ELF 32-bit i386", elf(1, false, 3), 0, {"i386"}},
        {"ELF big-endian ppc64", elf(2, true, 21), 0, {"ppc64"}},
        {"ELF unknown machine", elf(2, false, 0x7777), 0, {}},
        {"ELF bad class",
         [] {
             Bytes b = elf(2, false, 62);
             b[4] = 3;
             return b;
         }(),
         0,
         {}},
        {"text", Bytes{'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}, 0, {}},
        {"empty", Bytes{}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(architectures(c.bytes, c.fileSize), c.expected);
    }
}

TEST(ExecutableArchitecturesTest, EveryTruncatedHeaderIsRefused) {
    const Bytes headers[] = {thinMach(true, kArm64, 0), thinMach(false, 7, 3),
                             fat(true, {{kArm64, 0, 64, 1}, {kX86_64, 3, 64, 1}}),
                             elf(2, false, 183), elf(1, true, 20)};
    for (const Bytes& header : headers) {
        for (std::size_t length = 0; length < header.size(); ++length) {
            const Bytes prefix(header.begin(), header.begin() + static_cast<long>(length));
            EXPECT_EQ(executableArchitectures(prefix, prefix.size()), Names{}) << length;
        }
    }
}

class LipoToolTest : public testing::HostToolTest {
  protected:
    std::string write(const std::string& name, const Bytes& bytes, std::size_t fileSize) {
        Bytes content = bytes;
        content.resize(std::max(fileSize, content.size()), 0);
        const std::filesystem::path file = folder.path() / name;
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        return file.string();
    }
};

// The names, space separated, with the file before or after the operation; the file's real
// size bounds the slices (other refusals are rows of the host tools' table).
TEST_F(LipoToolTest, PrintsNamesSeparatedBySpaces) {
    const std::string universal =
        write("Universal", fat(false, {{kX86_64, 3, 4096, 32}, {kArm64, 0, 8192, 32}}), 8224);
    const ProcessResult result = run("lipo", {"-archs", universal});
    EXPECT_EQ(result.status, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput, "x86_64 arm64\n");
    EXPECT_EQ(run("lipo", {universal, "-archs"}).standardOutput, "x86_64 arm64\n");
    EXPECT_EQ(run("lipo", {"-archs", write("Linux", elf(2, false, 62), 0)}).standardOutput,
              "x86_64\n");
    const std::string cut = write("Truncated", fat(false, {{kArm64, 0, 4096, 100}}), 4195);
    EXPECT_EQ(run("lipo", {"-archs", cut}).standardError,
              "fatal error: " + testing::hostToolPath("lipo").string() +
                  ": can't figure out the architecture type of: " + cut + "\n");
}

}  // namespace
}  // namespace quaylet::hosttools
