#include <chrono>
#include <iostream>
#include <map>
#include <random>
#include <string_view>
#include <thread>

#include "hosttools/BundleIdentifier.h"
#include "hosttools/DeviceSetStore.h"
#include "hosttools/SimctlListing.h"
#include "hosttools/SolidPng.h"
#include "hosttools/Tools.h"

extern char** environ;

namespace quaylet::hosttools {
namespace {

using Arguments = std::vector<std::string>;

constexpr const char* kSimulatorErrorDomain = "com.apple.CoreSimulator.SimError";
constexpr int kInvalidStateCode = 405;
constexpr int kUsageStatus = 64;
constexpr auto kBootPollInterval = std::chrono::milliseconds(100);
constexpr std::uint32_t kScreenshotWidth = 390;
constexpr std::uint32_t kScreenshotHeight = 844;

// The Mac tool reports a failed request with the error's domain and code and exits with the
// code's low byte.
[[noreturn]] void failRequest(std::string_view domain, int code, const std::string& text) {
    const int status = code & 0xff;
    throw ToolFailure(status == 0 ? 1 : status,
                      "An error was encountered processing the command (domain=" +
                          std::string(domain) + ", code=" + std::to_string(code) + "):\n" + text);
}

// Plays one of a fault's remaining runs, when it has any.
bool playFault(int& remaining) {
    if (remaining <= 0) {
        return false;
    }
    --remaining;
    return true;
}

[[noreturn]] void failService() {
    failRequest("NSMachErrorDomain", -308, "CoreSimulatorService connection interrupted");
}

[[noreturn]] void failUsage(const std::string& usage) {
    throw ToolFailure(kUsageStatus, "Usage: simctl " + usage);
}

SimulatedDevice& requireDevice(DeviceSet& set, const std::string& udid) {
    SimulatedDevice* device = set.findDevice(udid);
    if (device == nullptr) {
        throw ToolFailure(148, "Invalid device: " + udid);
    }
    return *device;
}

void requireBooted(const SimulatedDevice& device) {
    if (!device.isBooted()) {
        failRequest(kSimulatorErrorDomain, kInvalidStateCode,
                    "Unable to lookup in current state: " + device.state);
    }
}

void requireBootable(const DeviceSet& set, const SimulatedDevice& device) {
    const SimulatedRuntime* runtime = set.findRuntime(device.runtime);
    if (!device.isAvailable || runtime == nullptr || !runtime->isAvailable) {
        failRequest(kSimulatorErrorDomain, kInvalidStateCode,
                    "Unable to boot device because it is unavailable: " +
                        device.availabilityError.value_or("its runtime is not installed"));
    }
}

void requireShutDownAndBootable(const DeviceSet& set, const SimulatedDevice& device) {
    if (device.state != kShutdownState) {
        failRequest(kSimulatorErrorDomain, kInvalidStateCode,
                    "Unable to boot device in current state: " + device.state);
    }
    requireBootable(set, device);
}

void boot(DeviceSet& set, SimulatedDevice& device) {
    requireShutDownAndBootable(set, device);
    device.state = kBootedState;
    device.lastBootedAt = currentTimestamp();
}

void shutdown(SimulatedDevice& device) {
    if (!device.isBooted()) {
        failRequest(kSimulatorErrorDomain, kInvalidStateCode,
                    "Unable to shutdown device in current state: " + device.state);
    }
    device.state = kShutdownState;
    for (InstalledApp& app : device.apps) {
        app.runningPid.reset();
    }
}

int list(const DeviceSetStore& store, const Arguments& arguments) {
    bool json = false;
    std::optional<std::string> section;
    for (const std::string& argument : arguments) {
        if (argument == "--json" || argument == "-j") {
            json = true;
        } else if (!section && (argument == "devices" || argument == "devicetypes" ||
                                argument == "runtimes" || argument == "pairs")) {
            section = argument;
        } else {
            failUsage("list [-j | --json] [devices | devicetypes | runtimes | pairs]");
        }
    }
    if (!json) {
        failUsage(
            "list --json [devices | devicetypes | runtimes | pairs]\n"
            "This simulated tool prints the list as JSON only.");
    }
    nlohmann::ordered_json document;
    bool serviceFails = false;
    store.update([&](DeviceSet& set) {
        if ((serviceFails = playFault(set.faults.serviceErrors))) {
            return;
        }
        for (SimulatedDevice& device : set.devices) {
            if (device.settlesAfterListings && --*device.settlesAfterListings <= 0) {
                device.settlesAfterListings.reset();
                if (!device.isBooted()) {
                    device.state = kShutdownState;
                }
            }
        }
        document = simctlListing(set, store.home());
    });
    if (serviceFails) {
        failService();
    }
    if (section) {
        std::cout << nlohmann::ordered_json{{*section, document.at(*section)}}.dump(2) << '\n';
    } else {
        std::cout << document.dump(2) << '\n';
    }
    return 0;
}

int bootCommand(const DeviceSetStore& store, const Arguments& arguments) {
    if (arguments.size() != 1) {
        failUsage("boot <device>");
    }
    bool serviceFails = false;
    int coldBoot = 0;
    store.update([&](DeviceSet& set) {
        if ((serviceFails = playFault(set.faults.serviceErrors))) {
            return;
        }
        SimulatedDevice& device = requireDevice(set, arguments[0]);
        set.bootRequests.push_back(device.udid);
        coldBoot = set.bootMilliseconds;
        if (coldBoot == 0) {
            boot(set, device);
        } else {
            requireShutDownAndBootable(set, device);
        }
    });
    if (serviceFails) {
        failService();
    }
    if (coldBoot != 0) {
        // The device counts as booted only at the end, so a boot stopped part-way leaves it
        // shut down, and another boot meanwhile wins as it would on a Mac.
        std::this_thread::sleep_for(std::chrono::milliseconds(coldBoot));
        store.update([&](DeviceSet& set) { boot(set, requireDevice(set, arguments[0])); });
    }
    return 0;
}

// Waits until the device is booted; with -b it boots a shut-down device first. Booting here is
// instant, so the wait only matters while another process has yet to boot the device.
int bootStatus(const DeviceSetStore& store, const Arguments& arguments) {
    const bool bootIfNeeded = arguments.size() == 2 && arguments[1] == "-b";
    if (arguments.size() != 1 && !bootIfNeeded) {
        failUsage("bootstatus <device> [-b]");
    }
    const std::string& udid = arguments[0];
    bool changed = false;
    bool hangs = false;
    store.update([&](DeviceSet& set) {
        SimulatedDevice& device = requireDevice(set, udid);
        if (bootIfNeeded && !device.isBooted()) {
            boot(set, device);
            changed = true;
        }
        hangs = playFault(set.faults.hangingBootWaits);
    });
    while (hangs) {
        std::this_thread::sleep_for(std::chrono::hours(1));  // until whoever waits gives up
    }
    for (bool first = true;; first = false) {
        DeviceSet set = store.read();
        const SimulatedDevice& device = requireDevice(set, udid);
        if (!device.isBooted()) {
            requireBootable(set, device);  // otherwise the wait would never end
        }
        if (first) {
            std::cout << "Monitoring boot status for " << device.name << " (" << udid << ").\n"
                      << std::flush;
        }
        if (device.isBooted()) {
            break;
        }
        changed = true;
        std::this_thread::sleep_for(kBootPollInterval);
    }
    std::cout << (changed ? "Device booted.\n" : "Device already booted, nothing to do.\n");
    return 0;
}

int shutdownCommand(const DeviceSetStore& store, const Arguments& arguments) {
    if (arguments.size() != 1) {
        failUsage("shutdown <device> | all");
    }
    store.update([&](DeviceSet& set) {
        if (arguments[0] != "all") {
            shutdown(requireDevice(set, arguments[0]));
            return;
        }
        for (SimulatedDevice& device : set.devices) {
            if (device.isBooted()) {
                shutdown(device);
            }
        }
    });
    return 0;
}

std::filesystem::path bundleSource(const std::string& argument) {
    std::filesystem::path source = std::filesystem::path(argument).lexically_normal();
    return source.has_filename() ? source : source.parent_path();
}

// Copies the bundle into the device's folder (outside the lock: bundles can be large), then
// records it; a reinstall replaces the earlier copy and stops the running app.
int install(const DeviceSetStore& store, const Arguments& arguments) {
    if (arguments.size() != 2) {
        failUsage("install <device> <path to .app>");
    }
    const std::string& udid = arguments[0];
    const std::filesystem::path source = bundleSource(arguments[1]);
    bool refused = false;
    store.update([&](DeviceSet& set) {
        requireBooted(requireDevice(set, udid));
        refused = playFault(set.faults.failingInstalls);
    });
    if (refused) {
        failRequest("IXUserPresentableErrorDomain", 1,
                    "Failed to install the requested application\n"
                    "The system is not ready to install apps yet.");
    }
    if (!std::filesystem::is_directory(source)) {
        failRequest("NSPOSIXErrorDomain", 2,
                    "Failed to install the requested application\n"
                    "An application bundle was not found at the provided path.\n"
                    "Provide a valid path to the desired application bundle.");
    }
    const std::optional<std::string> bundleIdentifier = readBundleIdentifier(source);
    if (!bundleIdentifier) {
        failRequest("IXErrorDomain", 13,
                    "Failed to install the requested application\n"
                    "The application's Info.plist does not contain a valid CFBundleIdentifier.");
    }
    const std::filesystem::path container =
        store.deviceFolder(udid) / "data" / "Containers" / "Bundle" / "Application" / makeUuid();
    const std::filesystem::path installed = container / source.filename();
    std::filesystem::create_directories(container);
    std::optional<std::filesystem::path> replaced;
    try {
        std::filesystem::copy(source, installed,
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::copy_symlinks);
        store.update([&](DeviceSet& set) {
            SimulatedDevice& device = requireDevice(set, udid);
            requireBooted(device);
            if (InstalledApp* app = device.findApp(*bundleIdentifier)) {
                replaced = app->path.parent_path();
                app->path = installed;
                app->runningPid.reset();
            } else {
                device.apps.push_back({*bundleIdentifier, installed, std::nullopt});
            }
        });
    } catch (...) {
        std::error_code ignored;  // the failure being raised is what the caller needs to see
        std::filesystem::remove_all(container, ignored);
        throw;
    }
    if (replaced) {
        std::filesystem::remove_all(*replaced);
    }
    return 0;
}

[[noreturn]] void failNotInstalled(const std::string& bundleIdentifier) {
    failRequest("NSPOSIXErrorDomain", 2,
                "The application \"" + bundleIdentifier + "\" is not installed on the device.");
}

int plausiblePid() {
    std::random_device source;
    return std::uniform_int_distribution<int>(10000, 99999)(source);
}

// What the Mac tool hands the app: its own SIMCTL_CHILD_ variables, without the prefix.
std::map<std::string, std::string> childEnvironment() {
    constexpr std::string_view kPrefix = "SIMCTL_CHILD_";
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        if (text.starts_with(kPrefix) && equals != std::string_view::npos &&
            equals > kPrefix.size()) {
            environment.emplace(text.substr(kPrefix.size(), equals - kPrefix.size()),
                                text.substr(equals + 1));
        }
    }
    return environment;
}

// Records the app as running, with the arguments and environment it was given; its code is
// never executed. A running app keeps its pid.
int launch(const DeviceSetStore& store, const Arguments& arguments) {
    if (arguments.size() < 2) {
        failUsage("launch <device> <bundle identifier> [<argument> ...]");
    }
    const std::string& bundleIdentifier = arguments[1];
    int pid = 0;
    store.update([&](DeviceSet& set) {
        SimulatedDevice& device = requireDevice(set, arguments[0]);
        requireBooted(device);
        InstalledApp* app = device.findApp(bundleIdentifier);
        if (app == nullptr) {
            failRequest("FBSOpenApplicationServiceErrorDomain", 4,
                        "The request to open \"" + bundleIdentifier +
                            "\" failed.\n"
                            "The application is not installed on the device.");
        }
        if (!app->runningPid) {
            app->runningPid = plausiblePid();
        }
        app->launchArguments.assign(arguments.begin() + 2, arguments.end());
        app->launchEnvironment = childEnvironment();
        pid = *app->runningPid;
    });
    std::cout << bundleIdentifier << ": " << pid << '\n';
    return 0;
}

// Hands the URL to the booted device, which keeps it; no app code runs to open it.
int openURL(const DeviceSetStore& store, const Arguments& arguments) {
    if (arguments.size() != 2) {
        failUsage("openurl <device> <URL>");
    }
    store.update([&](DeviceSet& set) {
        SimulatedDevice& device = requireDevice(set, arguments[0]);
        requireBooted(device);
        device.openedURLs.push_back(arguments[1]);
    });
    return 0;
}

int appContainer(const DeviceSetStore& store, const Arguments& arguments) {
    if (arguments.size() != 2 && !(arguments.size() == 3 && arguments[2] == "app")) {
        failUsage("get_app_container <device> <bundle identifier> [app]");
    }
    DeviceSet set = store.read();
    SimulatedDevice& device = requireDevice(set, arguments[0]);
    requireBooted(device);
    const InstalledApp* app = device.findApp(arguments[1]);
    if (app == nullptr) {
        failNotInstalled(arguments[1]);
    }
    std::cout << app->path.string() << '\n';
    return 0;
}

int io(const DeviceSetStore& store, const Arguments& arguments) {
    if (arguments.size() != 3 || arguments[1] != "screenshot") {
        failUsage("io <device> screenshot <file>");
    }
    {
        DeviceSet set = store.read();
        requireBooted(requireDevice(set, arguments[0]));
    }
    writeSolidPng(arguments[2], kScreenshotWidth, kScreenshotHeight, {0, 122, 255});
    std::cout << "Wrote screenshot to: " << arguments[2] << '\n';
    return 0;
}

struct Subcommand {
    std::string_view name;
    int (*run)(const DeviceSetStore&, const Arguments&);
};

constexpr Subcommand kSubcommands[] = {
    {"list", list},
    {"boot", bootCommand},
    {"bootstatus", bootStatus},
    {"shutdown", shutdownCommand},
    {"install", install},
    {"launch", launch},
    {"openurl", openURL},
    {"get_app_container", appContainer},
    {"io", io},
};

std::string subcommandList() {
    std::string text = "Usage: simctl <subcommand> ...\nSubcommands:";
    for (const Subcommand& subcommand : kSubcommands) {
        text += "\n\t" + std::string(subcommand.name);
    }
    return text;
}

}  // namespace

int runSimctl(const Invocation& invocation) {
    const Arguments& arguments = invocation.arguments;
    if (arguments.empty()) {
        throw ToolFailure(kUsageStatus, subcommandList());
    }
    for (const Subcommand& subcommand : kSubcommands) {
        if (subcommand.name == arguments.front()) {
            const DeviceSetStore store(DeviceSetStore::defaultHome());
            return subcommand.run(store, {arguments.begin() + 1, arguments.end()});
        }
    }
    throw ToolFailure(kUsageStatus,
                      "Unrecognized subcommand: " + arguments.front() + "\n" + subcommandList());
}

}  // namespace quaylet::hosttools
