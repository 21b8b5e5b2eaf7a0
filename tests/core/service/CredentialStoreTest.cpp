#include "core/service/CredentialStore.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/process/ProcessRunner.h"
#include "support/PrivateSecretService.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using testing::PrivateSecretService;
using testing::ScopedEnvironment;
using testing::TemporaryDirectory;

const std::string kRefused =
    "refused:Quaylet couldn’t save your GitHub sign-in. Unlock Keychain, then try again.";

// Runs the store operations in a fresh process (see CredentialStoreProbe.cpp) and returns
// one result line per operation.
std::vector<std::string> runStore(const std::vector<std::string>& operations) {
    const auto result = ProcessRunner().runChecked(
        ToolCommand{QUAYLET_CREDENTIAL_STORE_PROBE, operations}, std::stop_token());
    std::istringstream output(result.standardOutput);
    std::vector<std::string> lines;
    for (std::string line; std::getline(output, line);) {
        lines.push_back(line);
    }
    return lines;
}

using Lines = std::vector<std::string>;

// Each run is one process; "lock" locks the keyring between runs instead.
TEST(CredentialStoreTest, KeepsOneTokenInTheSecretService) {
    const struct {
        const char* name;
        std::vector<std::pair<Lines, Lines>> runs;
    } cases[] = {
        {"nothing saved yet", {{{"read"}, {"absent"}}}},
        {"round trip", {{{"save:abc", "read"}, {"saved", "token:abc"}}}},
        {"a second save replaces the first",
         {{{"save:first", "save:second", "read", "remove", "read"},
           {"saved", "saved", "token:second", "removed", "absent"}}}},
        {"an empty token is stored, not absent", {{{"save:", "read"}, {"saved", "token:"}}}},
        {"non-ASCII text round-trips as UTF-8",
         {{{"save:gho_Tökén✓🔑", "read"}, {"saved", "token:gho_Tökén✓🔑"}}}},
        {"removing twice in a row",
         {{{"save:abc", "remove", "remove", "read"}, {"saved", "removed", "removed", "absent"}}}},
        {"stored bytes that are not UTF-8 read as absent",
         {{{"save:\xff\xfe", "read"}, {"saved", "absent"}}}},
        {"the token outlives the process that saved it",
         {{{"save:abc"}, {"saved"}}, {{"read"}, {"token:abc"}}}},
        {"a locked keyring reads as absent and refuses saves without prompting",
         {{{"save:abc"}, {"saved"}},
          {{"lock"}, {}},
          {{"read", "save:def", "remove", "read"}, {"absent", kRefused, "removed", "absent"}}}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const PrivateSecretService keyring;
        for (const auto& [operations, results] : testCase.runs) {
            if (operations == Lines{"lock"}) {
                keyring.lockDefaultCollection();
            } else {
                EXPECT_EQ(runStore(operations), results);
            }
        }
    }
}

TEST(CredentialStoreTest, WithoutSecretServiceReadsAbsentAndRefusesSaves) {
    const TemporaryDirectory emptyRuntimeDirectory;
    // Without an address GLib looks for the bus in the runtime folder and then through X11;
    // neither exists here.
    const ScopedEnvironment runtimeDirectory("XDG_RUNTIME_DIR",
                                             emptyRuntimeDirectory.path().string());
    const ScopedEnvironment display("DISPLAY", std::nullopt);
    const struct {
        const char* name;
        std::optional<std::string> busAddress;
    } cases[] = {
        {"no session bus at all", std::nullopt},
        {"a bus address that leads nowhere",
         "unix:path=" + (emptyRuntimeDirectory.path() / "no-bus").string()},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", testCase.busAddress);
        EXPECT_EQ(runStore({"read", "save:abc", "remove", "read"}),
                  (Lines{"absent", kRefused, "removed", "absent"}));
    }
}

}  // namespace
}  // namespace quaylet
