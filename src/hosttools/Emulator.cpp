// emulator: lists the stored emulator definitions and starts one, as the SDK's emulator does.
#include <charconv>
#include <chrono>
#include <iostream>

#include "hosttools/EmulatorSet.h"
#include "hosttools/Tools.h"

namespace quaylet::hosttools {
namespace {

// -avd <name> -port <port> -no-boot-anim: the emulator runs at once and has booted once its
// boot seconds have passed. The real one stays in the foreground until it is shut down; the
// stand-in returns, so that no test leaves a process behind.
int start(const std::vector<std::string>& commandLine) {
    const std::string& name = commandLine[2];
    const std::string& portText = commandLine[4];
    EmulatorSetStore(EmulatorSetStore::defaultHome()).change(commandLine, [&](EmulatorSet& set) {
        int port = 0;
        const auto [end, error] =
            std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (error != std::errc() || end != portText.data() + portText.size() || port < 5554 ||
            port > 5682 || port % 2 != 0) {
            throw ToolFailure(1, "emulator: ERROR: invalid port " + portText);
        }
        StandInEmulator* chosen = nullptr;
        for (StandInEmulator& emulator : set.emulators) {
            if (emulator.port == port) {
                throw ToolFailure(1, "emulator: ERROR: port " + portText + " is in use");
            }
            if (emulator.name == name) {
                chosen = &emulator;
            }
        }
        if (chosen == nullptr) {
            throw ToolFailure(1, "emulator: ERROR: Unknown AVD name [" + name +
                                     "], use -list-avds to see valid list.");
        }
        if (chosen->port) {
            throw ToolFailure(1,
                              "emulator: ERROR: Running multiple emulators with the same AVD "
                              "is an experimental feature.");
        }
        chosen->port = port;
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        chosen->bootedAt =
            std::chrono::duration_cast<std::chrono::seconds>(now).count() + chosen->bootSeconds;
    });
    std::cout << "INFO    | Booting " << name << " on port " << portText << '\n';
    return 0;
}

}  // namespace

int runEmulator(const Invocation& invocation) {
    std::vector<std::string> commandLine{"emulator"};
    commandLine.insert(commandLine.end(), invocation.arguments.begin(), invocation.arguments.end());
    if (commandLine.size() == 6 && commandLine[1] == "-avd" && commandLine[3] == "-port" &&
        commandLine[5] == "-no-boot-anim") {
        return start(commandLine);
    }
    const EmulatorSet set = EmulatorSetStore(EmulatorSetStore::defaultHome()).run(commandLine);
    if (invocation.arguments == std::vector<std::string>{"-version"}) {
        // As the SDK's emulator does, a log line comes before the version.
        std::cout << "INFO    | Android emulator version 35.2.10.0 (build_id quaylet-stand-in)\n"
                     "Android emulator version 35.2.10.0 (build_id quaylet-stand-in)\n";
        return 0;
    }
    if (invocation.arguments != std::vector<std::string>{"-list-avds"}) {
        throw ToolFailure(1,
                          "emulator: ERROR: the stand-in knows only -version, -list-avds and "
                          "-avd <name> -port <port> -no-boot-anim");
    }
    for (const StandInEmulator& emulator : set.emulators) {
        std::cout << emulator.name << '\n';
    }
    return 0;
}

}  // namespace quaylet::hosttools
