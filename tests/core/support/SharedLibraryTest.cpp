#include "core/support/SharedLibrary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace quaylet {
namespace {

// A library that cannot be loaded, or lacks a function, is named in a sentence that says what
// Quaylet needs.
TEST(SharedLibraryTest, SaysWhichLibraryOrFunctionIsMissing) {
    using ::testing::StartsWith;
    using ::testing::ThrowsMessage;
    const SharedLibrary libm("libm.so.6", "libm", "a C library");
    double (*cosine)(double) = nullptr;
    libm.find(cosine, "cos");
    EXPECT_DOUBLE_EQ(cosine(0), 1);
    void (*missing)() = nullptr;
    EXPECT_THAT(
        [&] { libm.find(missing, "no_such_fn"); },
        ThrowsMessage<std::runtime_error>("libm has no no_such_fn; Quaylet needs a C library."));
    EXPECT_THAT([] { SharedLibrary("libquaylet-absent.so.9", "absent", ""); },
                ThrowsMessage<std::runtime_error>(StartsWith("absent could not be loaded: ")));
}

}  // namespace
}  // namespace quaylet
