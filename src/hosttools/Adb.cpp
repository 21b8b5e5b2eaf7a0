// adb: the running stored emulators, as the SDK's adb reports them, and the commands a launch
// sends them: installs, and the device shell's few commands.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <string_view>
#include <thread>

#include "core/android/AndroidManifest.h"
#include "hosttools/EmulatorSet.h"
#include "hosttools/Tools.h"
#include "hosttools/ZipArchive.h"

namespace quaylet::hosttools {
namespace {

StandInEmulator& running(EmulatorSet& set, const std::string& serial) {
    const auto emulator = std::find_if(
        set.emulators.begin(), set.emulators.end(),
        [&](const StandInEmulator& known) { return known.port && known.serial() == serial; });
    if (emulator == set.emulators.end()) {
        throw ToolFailure(1, "adb: device '" + serial + "' not found");
    }
    return *emulator;
}

// The words a POSIX shell makes of the line adb hands it: quotes and backslashes as the shell
// reads them. Anything unquoted that the shell would act on (separators, redirections,
// substitutions, globs, comments) is refused, since the stand-in runs no shell and a launch
// must never send any.
std::vector<std::string> shellWords(std::string_view line) {
    const auto refuse = [&](const std::string& why) -> ToolFailure {
        return ToolFailure(2, "/system/bin/sh: " + why + ": " + std::string(line));
    };
    std::vector<std::string> words;
    std::optional<std::string> word;
    for (std::size_t at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (c == ' ' || c == '\t') {
            if (word) {
                words.push_back(std::move(*word));
                word.reset();
            }
            continue;
        }
        std::string& into = word ? *word : word.emplace();
        if (c == '\'') {
            const std::size_t close = line.find('\'', at + 1);
            if (close == std::string_view::npos) {
                throw refuse("unterminated quote");
            }
            into += line.substr(at + 1, close - at - 1);
            at = close;
        } else if (c == '"') {
            for (++at; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] == '$' || line[at] == '`') {
                    throw refuse("expansion in double quotes");
                }
                if (line[at] == '\\' && at + 1 < line.size() &&
                    std::string_view("$`\"\\").find(line[at + 1]) != std::string_view::npos) {
                    ++at;
                }
                into += line[at];
            }
            if (at == line.size()) {
                throw refuse("unterminated quote");
            }
        } else if (c == '\\') {
            if (++at == line.size()) {
                throw refuse("trailing backslash");
            }
            into += line[at];
        } else if (std::string_view(";&|<>()$`*?[#~\n").find(c) != std::string_view::npos) {
            throw refuse(std::string("unquoted ") + c);
        } else {
            into += c;
        }
    }
    if (word) {
        words.push_back(std::move(*word));
    }
    return words;
}

std::string deviceShell(StandInEmulator& emulator, const std::vector<std::string>& words) {
    const auto installed = [&](const std::string& package) {
        return emulator.packages.contains(package);
    };
    const auto packageOf = [](const std::string& component) {
        return component.substr(0, component.find('/'));
    };
    if (words == std::vector<std::string>{"getprop", "sys.boot_completed"}) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const bool booted = emulator.bootedAt.value_or(0) <=
                            std::chrono::duration_cast<std::chrono::seconds>(now).count();
        return booted ? "1\n" : "\n";
    }
    if (words.size() == 7 &&
        std::vector(words.begin(), words.end() - 1) ==
            std::vector<std::string>{"cmd", "package", "resolve-activity", "--brief", "-c",
                                     "android.intent.category.LAUNCHER"}) {
        return installed(words[6]) ? "priority=0 preferredOrder=0 match=0x108000 "
                                     "specificIndex=-1 isDefault=true\n" +
                                         words[6] + "/.MainActivity\n"
                                   : "No activity found\n";
    }
    const bool startsComponent = words.size() == 5 && words[0] == "am" && words[1] == "start" &&
                                 words[2] == "-W" && words[3] == "-n";
    const bool opensURL = words.size() == 8 && words[0] == "am" && words[1] == "start" &&
                          words[2] == "-W" && words[3] == "-a" &&
                          words[4] == "android.intent.action.VIEW" && words[5] == "-d";
    if (startsComponent || opensURL) {
        const std::string intent =
            startsComponent ? "cmp=" + words[4]
                            : "act=" + words[4] + " dat=" + words[6] + " pkg=" + words[7];
        const std::string package = startsComponent ? packageOf(words[4]) : words[7];
        return "Starting: Intent { " + intent + " }\n" +
               (installed(package) ? "Status: ok\nLaunchState: COLD\nComplete\n"
                                   : "Error type 3\nError: Activity class does not exist.\n");
    }
    if (words.size() == 3 && words[0] == "dumpsys" && words[1] == "package") {
        const auto found = emulator.packages.find(words[2]);
        return found == emulator.packages.end()
                   ? std::string()
                   : "Packages:\n  Package [" + words[2] +
                         "] (stand-in):\n    versionCode=" + std::to_string(found->second) +
                         " minSdk=1 targetSdk=1\n";
    }
    throw ToolFailure(
        127, "/system/bin/sh: " + (words.empty() ? "" : words[0]) + ": inaccessible or not found");
}

// install -r -t <apk>: the package and version code come from the .apk's own manifest.
std::string install(StandInEmulator& emulator, const std::string& apk) {
    std::optional<AndroidManifest> manifest;
    try {
        const std::optional<std::string> bytes =
            readZipEntry(apk, "AndroidManifest.xml", AndroidManifest::kMaxSize);
        manifest = bytes ? AndroidManifest::parse(*bytes) : std::nullopt;
    } catch (const std::runtime_error&) {
        // A file that is no zip at all is refused below, as one without a manifest is.
    }
    if (!manifest || !manifest->packageName || !manifest->versionCode) {
        throw ToolFailure(
            1, "adb: failed to install " + apk + ": Failure [INSTALL_PARSE_FAILED_NOT_APK]");
    }
    emulator.packages[*manifest->packageName] = *manifest->versionCode;
    return "Performing Streamed Install\nSuccess\n";
}

}  // namespace

int runAdb(const Invocation& invocation) {
    const std::vector<std::string>& arguments = invocation.arguments;
    std::vector<std::string> commandLine{"adb"};
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    const EmulatorSetStore store(EmulatorSetStore::defaultHome());
    if (arguments == std::vector<std::string>{"devices"}) {
        std::cout << "List of devices attached\n";
        for (const StandInEmulator& emulator : store.run(commandLine).emulators) {
            if (emulator.port) {
                std::cout << emulator.serial() << "\tdevice\n";
            }
        }
        std::cout << '\n';
        return 0;
    }
    if (arguments == std::vector<std::string>{"version"}) {
        store.run(commandLine);
        std::cout << "Android Debug Bridge version 1.0.41\nVersion 35.0.2-quaylet-stand-in\n";
        return 0;
    }
    if (arguments.size() < 3 || arguments[0] != "-s") {
        throw ToolFailure(
            1, "adb: the stand-in knows only version, devices and -s <serial> <command>");
    }
    const std::string& serial = arguments[1];
    const std::vector<std::string> command(arguments.begin() + 2, arguments.end());
    if (command == std::vector<std::string>{"wait-for-device"}) {
        // As adb does, waits (until it is ended) for an emulator that is still starting.
        while (true) {
            try {
                store.change(commandLine, [&](EmulatorSet& set) { running(set, serial); });
                return 0;
            } catch (const ToolFailure&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
    }
    std::string output;
    store.change(commandLine, [&](EmulatorSet& set) {
        StandInEmulator& emulator = running(set, serial);
        if (command == std::vector<std::string>{"emu", "avd", "name"}) {
            // The emulator console answers in lines ended by CR LF, then OK.
            output = emulator.name + "\r\nOK\r\n";
        } else if (command.size() == 4 && command[0] == "install" && command[1] == "-r" &&
                   command[2] == "-t") {
            output = install(emulator, command[3]);
        } else if (command[0] == "shell") {
            // adb hands the device one line: its words joined by spaces.
            std::string line;
            for (auto word = command.begin() + 1; word != command.end(); ++word) {
                line += (line.empty() ? "" : " ") + *word;
            }
            const std::vector<std::string> words = shellWords(line);
            set.shell.push_back(words);
            output = deviceShell(emulator, words);
        } else {
            throw ToolFailure(1, "adb: the stand-in does not know " + command[0]);
        }
    });
    std::cout << output;
    return 0;
}

}  // namespace quaylet::hosttools
