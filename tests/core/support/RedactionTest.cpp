#include "core/support/Redaction.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace quaylet {
namespace {

TEST(RedactionTest, TakesOutSecretsQueriesAndTheHomeFolder) {
    const Redaction redaction({"tok/en+1\"", ""}, "/home/ann/");
    const std::pair<std::string, std::string> cases[] = {
        {"bearer tok/en+1\"!", "bearer [redacted]!"},
        {"?t=tok%2Fen%2B1%22&x", "?t=[redacted]&x"},  // percent-encoded, outside a URL
        {R"({"t":"tok/en+1\""})", R"({"t":"[redacted]"})"},
        {"see https://cdn.example/a.zip?X-Sig=abc&e=1 now",
         "see https://cdn.example/a.zip?"
         "[redacted] now"},
        {R"(["http://h/p?q=1","quaylet://preview/x"])",
         R"(["http://h/p?[redacted]","quaylet://preview/x"])"},
        {"/home/ann/app /home/anna /x/home/ann", "~/app /home/anna /x/home/ann"},
        {"/home/ann", "~"},
    };
    for (const auto& [text, redacted] : cases) {
        EXPECT_EQ(redaction.apply(text), redacted) << text;
    }
    EXPECT_EQ(Redaction({}, "/").apply("/etc/a"), "/etc/a") << "a root home is no home folder";
}

}  // namespace
}  // namespace quaylet
