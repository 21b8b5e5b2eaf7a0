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

// What reading, saving, removing and reading again print when the store cannot keep a token.
const std::string kUnavailable =
    "absent\nrefused:Quaylet couldn’t save your GitHub sign-in. "
    "Unlock Keychain, then try again.\nremoved\nabsent\n";

// Runs the store operations in a fresh process (see CredentialStoreProbe.cpp): a line each.
std::string runStore(const std::vector<std::string>& operations) {
    return ProcessRunner()
        .runChecked(ToolCommand{QUAYLET_CREDENTIAL_STORE_PROBE, operations}, std::stop_token())
        .standardOutput;
}

// A second save replaces the first and removing twice is no failure; empty and non-ASCII
// tokens read back as saved, bytes that are not UTF-8 as absent; a locked keyring reads as
// absent and refuses saves without prompting.
TEST(CredentialStoreTest, KeepsOneTokenInTheSecretService) {
    const PrivateSecretService keyring;
    EXPECT_EQ(runStore({"save:first", "save:second", "read", "remove", "remove", "read", "save:",
                        "read", "save:gho_Tökén✓🔑", "read", "save:\xff\xfe", "read", "save:abc"}),
              "saved\nsaved\ntoken:second\nremoved\nremoved\nabsent\nsaved\ntoken:\nsaved\n"
              "token:gho_Tökén✓🔑\nsaved\nabsent\nsaved\n");
    keyring.lockDefaultCollection();
    EXPECT_EQ(runStore({"read", "save:def", "remove", "read"}), kUnavailable);
}

TEST(CredentialStoreTest, WithoutSecretServiceReadsAbsentAndRefusesSaves) {
    const TemporaryDirectory empty;
    const ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS",
                                "unix:path=" + (empty.path() / "no-bus").string());
    EXPECT_EQ(runStore({"read", "save:abc", "remove", "read"}), kUnavailable);
}

}  // namespace
}  // namespace quaylet
