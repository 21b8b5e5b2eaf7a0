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
        {"a second save replaces the first, and removing twice is no failure",
         {{{"save:first", "save:second", "read", "remove", "remove", "read"},
           {"saved", "saved", "token:second", "removed", "removed", "absent"}}}},
        {"empty and non-ASCII tokens read back as saved, bytes that are not UTF-8 as absent",
         {{{"save:", "read", "save:gho_Tökén✓🔑", "read", "save:\xff\xfe", "read"},
           {"saved", "token:", "saved", "token:gho_Tökén✓🔑", "saved", "absent"}}}},
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
    const TemporaryDirectory empty;
    const ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS",
                                "unix:path=" + (empty.path() / "no-bus").string());
    EXPECT_EQ(runStore({"read", "save:abc", "remove", "read"}),
              (Lines{"absent", kRefused, "removed", "absent"}));
}

}  // namespace
}  // namespace quaylet
