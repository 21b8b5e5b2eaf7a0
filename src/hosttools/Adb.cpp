// adb: the running stored emulators, as the SDK's adb reports them.
#include <algorithm>
#include <iostream>

#include "hosttools/EmulatorSet.h"
#include "hosttools/Tools.h"

namespace quaylet::hosttools {

int runAdb(const Invocation& invocation) {
    const std::vector<std::string>& arguments = invocation.arguments;
    std::vector<std::string> commandLine{"adb"};
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    const EmulatorSet set = EmulatorSetStore(EmulatorSetStore::defaultHome()).run(commandLine);
    if (arguments == std::vector<std::string>{"devices"}) {
        std::cout << "List of devices attached\n";
        for (const StandInEmulator& emulator : set.emulators) {
            if (emulator.port) {
                std::cout << emulator.serial() << "\tdevice\n";
            }
        }
        std::cout << '\n';
        return 0;
    }
    if (arguments.size() == 5 && arguments[0] == "-s" &&
        std::vector(arguments.begin() + 2, arguments.end()) ==
            std::vector<std::string>{"emu", "avd", "name"}) {
        const auto emulator = std::find_if(set.emulators.begin(), set.emulators.end(),
                                           [&](const StandInEmulator& known) {
                                               return known.port && known.serial() == arguments[1];
                                           });
        if (emulator == set.emulators.end()) {
            throw ToolFailure(1, "adb: device '" + arguments[1] + "' not found");
        }
        // The emulator console answers in lines ended by CR LF, then OK.
        std::cout << emulator->name << "\r\nOK\r\n";
        return 0;
    }
    throw ToolFailure(1, "adb: the stand-in knows only devices and -s <serial> emu avd name");
}

}  // namespace quaylet::hosttools
