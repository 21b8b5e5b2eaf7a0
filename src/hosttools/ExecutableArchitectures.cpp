#include "hosttools/ExecutableArchitectures.h"

#include <algorithm>
#include <optional>

namespace quaylet::hosttools {
namespace {

enum class ByteOrder { little, big };

// Every read goes through here, so a short or hostile buffer can never be read past its end.
class ByteReader {
  public:
    ByteReader(std::span<const std::uint8_t> bytes, ByteOrder order)
        : bytes_(bytes), order_(order) {}

    std::optional<std::uint64_t> read(std::size_t offset, std::size_t width) const {
        if (offset > bytes_.size() || width > bytes_.size() - offset) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (std::size_t index = 0; index < width; ++index) {
            const std::size_t position =
                order_ == ByteOrder::big ? offset + index : offset + width - 1 - index;
            value = (value << 8) | bytes_[position];
        }
        return value;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    ByteOrder order_;
};

constexpr std::uint32_t kMachMagic32 = 0xfeedface;
constexpr std::uint32_t kMachMagic64 = 0xfeedfacf;
constexpr std::uint32_t kFatMagic32 = 0xcafebabe;
constexpr std::uint32_t kFatMagic64 = 0xcafebabf;
constexpr std::size_t kMachHeaderSize32 = 28;
constexpr std::size_t kMachHeaderSize64 = 32;
constexpr std::size_t kFatHeaderSize = 8;
constexpr std::size_t kFatArchSize32 = 20;
constexpr std::size_t kFatArchSize64 = 32;
// Real universal binaries hold a handful of slices; the cap keeps the arch table inside the
// leading bytes and stops a hostile count from driving the loop.
constexpr std::uint64_t kMaxFatArchitectures = 64;
static_assert(kFatHeaderSize + kMaxFatArchitectures * kFatArchSize64 <= kArchitectureHeaderBytes);

constexpr std::uint32_t kAbi64 = 0x01000000;
constexpr std::uint32_t kAbi64_32 = 0x02000000;
constexpr std::uint32_t kCpuX86 = 7;
constexpr std::uint32_t kCpuArm = 12;
constexpr std::uint32_t kCpuPowerPC = 18;
// The top byte of a subtype carries capability flags (pointer authentication, 64-bit libraries),
// not the model.
constexpr std::uint32_t kSubtypeCapabilityMask = 0xff000000;

struct ArchitectureName {
    std::uint32_t cpuType;
    std::optional<std::uint32_t> cpuSubtype;  // absent: any subtype
    const char* name;
};

// The first matching row wins, so specific subtypes come before the family's catch-all.
constexpr ArchitectureName kMachArchitectures[] = {
    {kCpuX86 | kAbi64, 8, "x86_64h"},
    {kCpuX86 | kAbi64, std::nullopt, "x86_64"},
    {kCpuX86, std::nullopt, "i386"},
    {kCpuArm | kAbi64, 2, "arm64e"},
    {kCpuArm | kAbi64, 1, "arm64v8"},
    {kCpuArm | kAbi64, std::nullopt, "arm64"},
    {kCpuArm | kAbi64_32, std::nullopt, "arm64_32"},
    {kCpuArm, 5, "armv4t"},
    {kCpuArm, 6, "armv6"},
    {kCpuArm, 7, "armv5"},
    {kCpuArm, 8, "xscale"},
    {kCpuArm, 9, "armv7"},
    {kCpuArm, 10, "armv7f"},
    {kCpuArm, 11, "armv7s"},
    {kCpuArm, 12, "armv7k"},
    {kCpuArm, 13, "armv8"},
    {kCpuArm, 14, "armv6m"},
    {kCpuArm, 15, "armv7m"},
    {kCpuArm, 16, "armv7em"},
    {kCpuArm, std::nullopt, "arm"},
    {kCpuPowerPC | kAbi64, std::nullopt, "ppc64"},
    {kCpuPowerPC, 10, "ppc7400"},
    {kCpuPowerPC, 11, "ppc7450"},
    {kCpuPowerPC, 100, "ppc970"},
    {kCpuPowerPC, std::nullopt, "ppc"},
};

std::string machArchitectureName(std::uint32_t cpuType, std::uint32_t cpuSubtype) {
    const std::uint32_t model = cpuSubtype & ~kSubtypeCapabilityMask;
    for (const ArchitectureName& row : kMachArchitectures) {
        if (row.cpuType == cpuType && (!row.cpuSubtype || *row.cpuSubtype == model)) {
            return row.name;
        }
    }
    // A well-formed header naming a processor we do not know is still an executable; say so the
    // way the Mac tool does rather than refusing the file.
    return "unknown(" + std::to_string(static_cast<std::int32_t>(cpuType)) + "," +
           std::to_string(static_cast<std::int32_t>(model)) + ")";
}

std::vector<std::string> thinMachArchitectures(const ByteReader& reader, std::size_t headerSize) {
    if (!reader.read(headerSize - 1, 1)) {
        return {};
    }
    return {machArchitectureName(static_cast<std::uint32_t>(*reader.read(4, 4)),
                                 static_cast<std::uint32_t>(*reader.read(8, 4)))};
}

std::vector<std::string> fatArchitectures(const ByteReader& reader, bool wideOffsets,
                                          std::uint64_t fileSize) {
    const std::optional<std::uint64_t> count = reader.read(4, 4);
    if (!count || *count == 0 || *count > kMaxFatArchitectures) {
        return {};
    }
    const std::size_t entrySize = wideOffsets ? kFatArchSize64 : kFatArchSize32;
    const std::size_t fieldWidth = wideOffsets ? 8 : 4;
    std::vector<std::string> names;
    for (std::uint64_t index = 0; index < *count; ++index) {
        const std::size_t entry = kFatHeaderSize + static_cast<std::size_t>(index) * entrySize;
        if (!reader.read(entry + entrySize - 1, 1)) {
            return {};
        }
        // The whole entry is present, so these reads cannot fail.
        const std::uint64_t cpuType = *reader.read(entry, 4);
        const std::uint64_t cpuSubtype = *reader.read(entry + 4, 4);
        const std::uint64_t offset = *reader.read(entry + 8, fieldWidth);
        const std::uint64_t size = *reader.read(entry + 8 + fieldWidth, fieldWidth);
        if (offset > fileSize || size > fileSize - offset) {
            return {};
        }
        names.push_back(machArchitectureName(static_cast<std::uint32_t>(cpuType),
                                             static_cast<std::uint32_t>(cpuSubtype)));
    }
    return names;
}

constexpr std::uint8_t kElfMagic[] = {0x7f, 'E', 'L', 'F'};
constexpr std::size_t kElfClassOffset = 4;
constexpr std::size_t kElfDataOffset = 5;
constexpr std::size_t kElfMachineOffset = 18;
constexpr std::size_t kElfHeaderSize32 = 52;
constexpr std::size_t kElfHeaderSize64 = 64;

struct ElfMachineName {
    std::uint16_t machine;
    const char* name32;
    const char* name64;
};

// Names follow the Mach-O spelling where one exists, so a Linux-built demo app reads the same way.
constexpr ElfMachineName kElfMachines[] = {
    {3, "i386", "i386"},         {8, "mips", "mips64"},
    {20, "ppc", "ppc"},          {21, "ppc64", "ppc64"},
    {22, "s390", "s390x"},       {40, "arm", "arm"},
    {62, "x86_64", "x86_64"},    {183, "arm64", "arm64"},
    {243, "riscv32", "riscv64"}, {258, "loongarch32", "loongarch64"},
};

std::vector<std::string> elfArchitectures(std::span<const std::uint8_t> bytes) {
    if (bytes.size() <= kElfDataOffset) {
        return {};
    }
    const std::uint8_t elfClass = bytes[kElfClassOffset];
    const std::uint8_t data = bytes[kElfDataOffset];
    if ((elfClass != 1 && elfClass != 2) || (data != 1 && data != 2)) {
        return {};
    }
    const bool wide = elfClass == 2;
    if (bytes.size() < (wide ? kElfHeaderSize64 : kElfHeaderSize32)) {
        return {};
    }
    const ByteReader reader(bytes, data == 1 ? ByteOrder::little : ByteOrder::big);
    const auto machine = static_cast<std::uint16_t>(*reader.read(kElfMachineOffset, 2));
    for (const ElfMachineName& row : kElfMachines) {
        if (row.machine == machine) {
            return {wide ? row.name64 : row.name32};
        }
    }
    return {};
}

}  // namespace

std::vector<std::string> executableArchitectures(std::span<const std::uint8_t> leadingBytes,
                                                 std::uint64_t fileSize) {
    if (leadingBytes.size() > fileSize) {
        return {};
    }
    if (leadingBytes.size() >= sizeof kElfMagic &&
        std::equal(std::begin(kElfMagic), std::end(kElfMagic), leadingBytes.begin())) {
        return elfArchitectures(leadingBytes);
    }
    for (const ByteOrder order : {ByteOrder::big, ByteOrder::little}) {
        const ByteReader reader(leadingBytes, order);
        const std::optional<std::uint64_t> magic = reader.read(0, 4);
        if (!magic) {
            return {};
        }
        switch (*magic) {
            case kMachMagic32:
                return thinMachArchitectures(reader, kMachHeaderSize32);
            case kMachMagic64:
                return thinMachArchitectures(reader, kMachHeaderSize64);
            case kFatMagic32:
                return fatArchitectures(reader, false, fileSize);
            case kFatMagic64:
                return fatArchitectures(reader, true, fileSize);
            default:
                break;
        }
    }
    return {};
}

}  // namespace quaylet::hosttools
