#include "core/support/FileTree.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

TEST(FileTreeTest, RemovesTheWholeTreeAndNothingOutsideIt) {
    const struct {
        const char* name;
        std::function<void(const fs::path& tree, const fs::path& outside)> make;
    } cases[] = {
        {"missing root", [](auto&, auto&) {}},
        {"a single file", [](const fs::path& tree, auto&) { std::ofstream(tree) << "x"; }},
        // A chain of folders, made one level at a time, far longer than any path may be and
        // deeper than the descriptors the test then allows.
        {"a deep tree left by an older version",
         [](const fs::path& tree, auto&) {
             const fs::path start = fs::current_path();
             fs::create_directory(tree);
             fs::current_path(tree);
             for (int level = 0; level < 300; ++level) {
                 fs::create_directory(std::string(200, 'd'));
                 fs::current_path(std::string(200, 'd'));
             }
             std::ofstream("f") << "x";
             fs::current_path(start);
         }},
        {"folders without owner permissions",
         [](const fs::path& tree, auto&) {
             fs::create_directories(tree / "locked/inner");
             std::ofstream(tree / "locked/inner/f") << "x";
             fs::permissions(tree / "locked/inner", fs::perms::none);
             fs::permissions(tree / "locked", fs::perms::owner_read | fs::perms::owner_exec);
         }},
        {"links to a folder and a file outside",
         [](const fs::path& tree, const fs::path& outside) {
             fs::create_directories(tree / "sub");
             fs::create_directory_symlink(outside, tree / "sub/folder");
             fs::create_symlink(outside / "kept", tree / "file");
         }},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const testing::TemporaryDirectory scratch;
        const fs::path tree = scratch.path() / "tree";
        const fs::path outside = scratch.path() / "outside";
        fs::create_directory(outside);
        std::ofstream(outside / "kept") << "kept";
        testCase.make(tree, outside);
        rlimit descriptors{};
        ::getrlimit(RLIMIT_NOFILE, &descriptors);
        const rlimit few{64, descriptors.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &few);
        EXPECT_NO_THROW(removeTree(tree));
        ::setrlimit(RLIMIT_NOFILE, &descriptors);
        EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
        EXPECT_TRUE(fs::exists(outside / "kept"));
    }
}

}  // namespace
}  // namespace quaylet
