#include "feature/IncomingLink.h"

#include <gtest/gtest.h>

namespace quaylet {
namespace {

TEST(IncomingLinkTest, ReadsEachFormByTheGrammar) {
    struct Case {
        const char* url;
        IncomingLink expected;
    };
    const Case cases[] = {
        {"quaylet://preview/abc123", PreviewLink{"abc123"}},
        {"quaylet://preview/abc123/extra?x=1", PreviewLink{"abc123"}},
        {"quaylet://preview/a.b_c~d-E9", PreviewLink{"a.b_c~d-E9"}},
        {"quaylet://preview/%252e%252e%252fauth%252flogout", UnusableLink{}},
        {"quaylet://preview//abc123", PreviewLink{"abc123"}},
        {"quaylet://preview/", UnusableLink{}},
        {"https://preview/abc123", UnusableLink{}},
        {"quaylet://previews/abc123", UnusableLink{}},
        {"quaylet://preview/..", UnusableLink{}},
        {"quaylet://auth?state=s&code=c1&code=c2", SignInReturnLink{"c1"}},
        {"quaylet://auth?code=a%2Bb+c", SignInReturnLink{"a+b+c"}},
        {"quaylet://auth?code=", UnusableLink{}},
        {"quaylet://auth?code=&code=c2", UnusableLink{}},  // the first code item decides
        {"quaylet://auth/abc123?token=c1", UnusableLink{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(parseIncomingLink(QUrl(QString::fromUtf8(c.url))), c.expected);
    }
    const std::string longest(200, 'a');
    EXPECT_EQ(parseIncomingLink(QUrl(QString::fromStdString("quaylet://preview/" + longest))),
              IncomingLink(PreviewLink{longest}));
}

}  // namespace
}  // namespace quaylet
