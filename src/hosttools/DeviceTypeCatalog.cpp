#include "hosttools/DeviceTypeCatalog.h"

namespace quaylet::hosttools {

std::span<const DeviceType> deviceTypeCatalog() {
    static constexpr DeviceType kCatalog[] = {
        {"com.apple.CoreSimulator.SimDeviceType.iPhone-13", "iPhone 13", "iPhone"},
        {"com.apple.CoreSimulator.SimDeviceType.iPhone-14", "iPhone 14", "iPhone"},
        {"com.apple.CoreSimulator.SimDeviceType.iPhone-15", "iPhone 15", "iPhone"},
        {"com.apple.CoreSimulator.SimDeviceType.iPhone-15-Pro", "iPhone 15 Pro", "iPhone"},
        {"com.apple.CoreSimulator.SimDeviceType.iPhone-16", "iPhone 16", "iPhone"},
        {"com.apple.CoreSimulator.SimDeviceType.iPhone-16-Pro", "iPhone 16 Pro", "iPhone"},
        {"com.apple.CoreSimulator.SimDeviceType.iPad-Air-11-inch-M2", "iPad Air 11-inch (M2)",
         "iPad"},
        {"com.apple.CoreSimulator.SimDeviceType.Apple-TV-4K-3rd-generation-4K",
         "Apple TV 4K (3rd generation)", "Apple TV"},
    };
    return kCatalog;
}

bool platformRunsFamily(std::string_view platform, std::string_view productFamily) {
    if (platform == "iOS") {
        return productFamily == "iPhone" || productFamily == "iPad";
    }
    return platform == "tvOS" && productFamily == "Apple TV";
}

}  // namespace quaylet::hosttools
