// Runs credential-store operations named on the command line in a process of its own, one
// result line each, so that every test meets the Secret Service of its own D-Bus session:
//   read          -> "token:<text>" or "absent"
//   save:<token>  -> "saved" or "refused:<message>"
//   remove        -> "removed"
#include <iostream>
#include <string_view>

#include "core/errors/QuayletError.h"
#include "core/service/CredentialStore.h"

int main(int argc, char** argv) {
    const quaylet::CredentialStore store;
    for (int index = 1; index < argc; ++index) {
        const std::string_view command = argv[index];
        if (command == "read") {
            const auto token = store.readToken();
            std::cout << (token ? "token:" + *token : "absent") << '\n';
        } else if (command.starts_with("save:")) {
            try {
                store.saveToken(command.substr(5));
                std::cout << "saved\n";
            } catch (const quaylet::QuayletError& error) {
                std::cout << "refused:" << error.errorDescription() << '\n';
            }
        } else if (command == "remove") {
            store.removeToken();
            std::cout << "removed\n";
        } else {
            std::cerr << "unknown command: " << command << '\n';
            return 2;
        }
    }
    return 0;
}
