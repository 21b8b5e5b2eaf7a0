// emulator: lists the stored emulator definitions, as the SDK's emulator does.
#include <iostream>

#include "hosttools/EmulatorSet.h"
#include "hosttools/Tools.h"

namespace quaylet::hosttools {

int runEmulator(const Invocation& invocation) {
    std::vector<std::string> commandLine{"emulator"};
    commandLine.insert(commandLine.end(), invocation.arguments.begin(), invocation.arguments.end());
    const EmulatorSet set = EmulatorSetStore(EmulatorSetStore::defaultHome()).run(commandLine);
    if (invocation.arguments != std::vector<std::string>{"-list-avds"}) {
        throw ToolFailure(1, "emulator: ERROR: the stand-in knows only -list-avds");
    }
    for (const StandInEmulator& emulator : set.emulators) {
        std::cout << emulator.name << '\n';
    }
    return 0;
}

}  // namespace quaylet::hosttools
