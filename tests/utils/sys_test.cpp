// The platform operations the tool needs: environment variables, the
// directory seam, and the services file's writer lock.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sys/directories.h"
#include "sys/environment.h"
#include "sys/file_lock.h"
#include "sys/seam.h"
#include "tests/support/fault_guard.h"
#include "tests/utils/files.h"

namespace volsten {
namespace {

TEST(SysEnvironmentTest, SetReadAndRemove) {
  const char* name = "VOLSTEN_SYS_TEST_VARIABLE";
  char value[16];
  ASSERT_TRUE(sysSetEnvironment(name, "some value"));
  EXPECT_EQ(sysGetEnvironment(name, value, sizeof value), 10);
  EXPECT_STREQ(value, "some value");
  // Ten characters and the NUL need eleven bytes.
  EXPECT_EQ(sysGetEnvironment(name, value, 10), -1);
  EXPECT_STREQ(value, "");
  EXPECT_EQ(sysGetEnvironment(name, value, 11), 10);
  ASSERT_TRUE(sysSetEnvironment(name, nullptr));
  std::strcpy(value, "stale");
  EXPECT_EQ(sysGetEnvironment(name, value, sizeof value), 0);
  EXPECT_STREQ(value, "");
}

class SysDirectoriesTest : public ::testing::Test {
 protected:
  void SetUp() override { sysSeamReset(); }
  void TearDown() override { sysSeamReset(); }
  testing::FaultGuard faults_;
};

TEST_F(SysDirectoriesTest, RealDirectoriesAreAbsolute) {
  char system[512], windows[512];
  ASSERT_TRUE(sysSystemDirectory(system, sizeof system));
  ASSERT_TRUE(sysWindowsDirectory(windows, sizeof windows));
  if (sysOsFamily() == SysFamily::Posix) {
    EXPECT_STREQ(system, "/etc");
    EXPECT_STREQ(windows, "/etc");
    EXPECT_EQ(sysPathSeparator(), '/');
  } else {
    EXPECT_EQ(sysOsFamily(), SysFamily::WindowsNt);
    EXPECT_EQ(std::string(system).substr(1, 2), ":\\");
    EXPECT_EQ(std::string(system).rfind(windows, 0), 0u) << system << " " << windows;
    EXPECT_EQ(sysPathSeparator(), '\\');
  }
}

TEST_F(SysDirectoriesTest, DirectoryThatDoesNotFitFails) {
  char tiny[3] = "xx";
  EXPECT_FALSE(sysSystemDirectory(tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "");
  sysSeamRedirectDirectories("/some/dir", "/other/dir");
  EXPECT_FALSE(sysWindowsDirectory(tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "");
}

TEST_F(SysDirectoriesTest, SeamRedirectsAndForcesFamilyUntilReset) {
  sysSeamRedirectDirectories("X:\\redirected", "Y:\\windows");
  sysSeamForceFamily(SysFamily::Windows95);
  char system[512], windows[512];
  ASSERT_TRUE(sysSystemDirectory(system, sizeof system));
  ASSERT_TRUE(sysWindowsDirectory(windows, sizeof windows));
  EXPECT_STREQ(system, "X:\\redirected");
  EXPECT_STREQ(windows, "Y:\\windows");
  EXPECT_EQ(sysOsFamily(), SysFamily::Windows95);
  sysSeamReset();
  EXPECT_NE(sysOsFamily(), SysFamily::Windows95);
  ASSERT_TRUE(sysSystemDirectory(system, sizeof system));
  EXPECT_STRNE(system, "X:\\redirected");
}

TEST_F(SysDirectoriesTest, FaultPointsFailEachQuery) {
  char dir[512];
  faultArm(FaultPoint::VersionQuery, 0);
  EXPECT_EQ(sysOsFamily(), SysFamily::Unknown);
  faultArm(FaultPoint::SystemDirectory, 0);
  EXPECT_FALSE(sysSystemDirectory(dir, sizeof dir));
  faultArm(FaultPoint::WindowsDirectory, 0);
  EXPECT_FALSE(sysWindowsDirectory(dir, sizeof dir));
}

// The lock lives on a handle of its own: closing the stream it was taken
// through keeps it, so that a writer can still undo its append under it.
TEST(SysFileLockTest, OutlivesItsStreamAndExcludesOtherWritersUntilReleased) {
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string path = dir.path("services");
  ASSERT_TRUE(testing::writeFile(path, "0123456789"));
  std::FILE* first = std::fopen(path.c_str(), "r+");
  std::FILE* second = std::fopen(path.c_str(), "r+");
  ASSERT_TRUE(first != nullptr && second != nullptr);
  SysFileLock held, waiting;
  ASSERT_EQ(sysFileLock(first, 0, &held), SysFileLockResult::Locked);
  std::fclose(first);
  EXPECT_EQ(sysFileLock(second, 30, &waiting), SysFileLockResult::Refused);
  EXPECT_EQ(waiting.handle, 0u);
  EXPECT_TRUE(sysFileCutBack(&held, 4));
  sysFileUnlock(&held);
  ASSERT_EQ(sysFileLock(second, 0, &waiting), SysFileLockResult::Locked);
  std::fclose(second);
  sysFileUnlock(&waiting);
  EXPECT_EQ(testing::readFile(path), "0123");
}

}  // namespace
}  // namespace volsten
