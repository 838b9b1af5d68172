#include <gtest/gtest.h>
#include <unistd.h>

#include "common/TestSupport.h"
#include "platform/Bundle.h"
#include "platform/Path.h"

namespace platform {
namespace {

struct PathCase {
  std::string input;
  std::string expected;
};

TEST(Path, LastPathComponent) {
  for (const PathCase& c : std::initializer_list<PathCase>{
           {"/a/b", "b"}, {"/a/b/", "b"}, {"/a/b//", "b"}, {"/", "/"}, {"//", "/"}, {"", ""}, {"a", "a"}, {"a/", "a"}}) {
    EXPECT_EQ(lastPathComponent(c.input), c.expected) << "input " << c.input;
  }
}

TEST(Path, DeletingLastPathComponent) {
  for (const PathCase& c : std::initializer_list<PathCase>{{"/a/b", "/a"},
                                                            {"/a/b/", "/a"},
                                                            {"/a//b", "/a"},
                                                            {"/a", "/"},
                                                            {"/", "/"},
                                                            {"a", ""},
                                                            {"a/b", "a"},
                                                            {"", ""}}) {
    EXPECT_EQ(stringByDeletingLastPathComponent(c.input), c.expected) << "input " << c.input;
  }
}

TEST(Path, AppendingComponent) {
  struct Case {
    std::string path, component, expected;
  } cases[] = {{"/tmp", "x", "/tmp/x"},     {"/tmp/", "x", "/tmp/x"},     {"/tmp//", "/x/", "/tmp/x"},
               {"/", "x", "/x"},            {"", "x", "x"},               {"/tmp", "", "/tmp"},
               {"/tmp", "a/b", "/tmp/a/b"}, {"rel", "x", "rel/x"}};
  for (const Case& c : cases) {
    EXPECT_EQ(stringByAppendingPathComponent(c.path, c.component), c.expected) << c.path << " + " << c.component;
  }
}

TEST(Bundle, OpensOnlyADirectoryAndFindsItsExecutables) {
  testing_support::TemporaryDirectory directory;
  std::string app = directory.path("Tool.app");
  std::filesystem::create_directories(app + "/Contents/MacOS");
  testing_support::writeFile(app + "/Contents/MacOS/helper", "#!/bin/sh\n", 0755);
  ASSERT_EQ(symlink("/nonexistent", (app + "/Contents/MacOS/dangling").c_str()), 0);
  testing_support::writeFile(directory.path("file.app"), "");

  EXPECT_FALSE(Bundle::bundleWithPath(directory.path("file.app")));
  EXPECT_FALSE(Bundle::bundleWithPath(directory.path("missing.app")));
  EXPECT_FALSE(Bundle::bundleWithPath(""));
  std::optional<Bundle> bundle = Bundle::bundleWithPath(app);
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->bundlePath(), app);
  EXPECT_EQ(bundle->pathForAuxiliaryExecutable("helper"), app + "/Contents/MacOS/helper");
  EXPECT_EQ(bundle->pathForAuxiliaryExecutable("dangling"), app + "/Contents/MacOS/dangling");
  EXPECT_FALSE(bundle->pathForAuxiliaryExecutable("brenlowd"));
  EXPECT_FALSE(bundle->pathForAuxiliaryExecutable(""));
}

}  // namespace
}  // namespace platform
