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
        {"quaylet://preview/build%20one", PreviewLink{"build one"}},
        {"quaylet://preview//abc123", PreviewLink{"abc123"}},
        {"QUAYLET://PREVIEW/abc123", PreviewLink{"abc123"}},  // QUrl folds scheme and host
        {"quaylet://preview/", UnusableLink{}},
        {"quaylet://preview", UnusableLink{}},
        {"quaylet:preview/abc123", UnusableLink{}},
        {"https://preview/abc123", UnusableLink{}},
        {"quaylet://previews/abc123", UnusableLink{}},
        {"quaylet://preview/..", UnusableLink{}},
        {"quaylet://preview/%2E", UnusableLink{}},
        {"quaylet://preview/a%00b", UnusableLink{}},
        {"quaylet://auth?state=s&code=c1&code=c2", SignInReturnLink{"c1"}},
        {"quaylet://auth?code=a%2Bb+c", SignInReturnLink{"a+b+c"}},
        {"quaylet://auth?code=", UnusableLink{}},
        {"quaylet://auth?code", UnusableLink{}},
        {"quaylet://auth?code=&code=c2", UnusableLink{}},  // the first code item decides
        {"quaylet://auth", UnusableLink{}},
        {"quaylet://auth/abc123?token=c1", UnusableLink{}},
        {"", UnusableLink{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(parseIncomingLink(QUrl(QString::fromUtf8(c.url))), c.expected);
    }
}

}  // namespace
}  // namespace quaylet
