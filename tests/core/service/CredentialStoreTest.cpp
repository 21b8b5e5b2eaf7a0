#include "core/service/CredentialStore.h"

#include <gtest/gtest.h>

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

// Runs the store operations in a fresh process (see CredentialStoreProbe.cpp): a line each.
std::string runStore(const std::vector<std::string>& operations) {
    return ProcessRunner()
        .runChecked(ToolCommand{QUAYLET_CREDENTIAL_STORE_PROBE, operations}, std::stop_token())
        .standardOutput;
}

using Lines = std::vector<std::string>;

// Each run is one process; "lock" locks the keyring between runs instead.
TEST(CredentialStoreTest, KeepsOneTokenInTheSecretService) {
    const struct {
        const char* name;
        std::vector<std::pair<Lines, std::string>> runs;
    } cases[] = {
        {"a second save replaces the first, and removing twice is no failure",
         {{{"save:first", "save:second", "read", "remove", "remove", "read"},
           "saved\nsaved\ntoken:second\nremoved\nremoved\nabsent\n"}}},
        {"empty and non-ASCII tokens read back as saved, bytes that are not UTF-8 as absent",
         {{{"save:", "read", "save:gho_Tökén✓🔑", "read", "save:\xff\xfe", "read"},
           "saved\ntoken:\nsaved\ntoken:gho_Tökén✓🔑\nsaved\nabsent\n"}}},
        {"a locked keyring reads as absent and refuses saves without prompting",
         {{{"save:abc"}, "saved\n"},
          {{"lock"}, ""},
          {{"read", "save:def", "remove", "read"}, "absent\n" + kRefused + "\nremoved\nabsent\n"}}},
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
              "absent\n" + kRefused + "\nremoved\nabsent\n");
}

}  // namespace
}  // namespace quaylet
