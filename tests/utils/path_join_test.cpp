#include "utils/path_join.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/str.h"
#include "sys/directories.h"
#include "sys/seam.h"
#include "tests/support/diag_reader.h"
#include "tests/support/fault_guard.h"
#include "tests/utils/files.h"
#include "utils/locate.h"
#include "utils/options.h"

namespace volsten {
namespace {

// The separator the join puts in: backslash on Windows, slash on POSIX.
std::string withSeparator(std::string text) {
  for (char& c : text) {
    if (c == '|') c = sysPathSeparator();
  }
  return text;
}

struct JoinCase {
  const char* directory;
  int32_t directoryLength;
  const char* name;
  int32_t nameLength;
  const char* joined;  // '|' stands for the system's separator
};

// The Windows directory is an empty one of the test's own, so no profile
// on the machine configures the servers named below.
class PathJoinTest : public ::testing::TestWithParam<JoinCase> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    sysSeamRedirectDirectories(nullptr, dir_.root().string().c_str());
  }
  void TearDown() override { sysSeamRedirectDirectories(nullptr, nullptr); }
  testing::TempDir dir_;
};

TEST_P(PathJoinTest, JoinsLocally) {
  const JoinCase& c = GetParam();
  char out[512];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(
      pathJoin(nullptr, c.directory, c.directoryLength, c.name, c.nameLength, out, sizeof out), 0);
  EXPECT_EQ(std::string(out), withSeparator(c.joined));
  // The output is zero-filled past the result.
  EXPECT_EQ(out[sizeof out - 1], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PathJoinTest,
    ::testing::Values(JoinCase{"C:\\WINDOWS\\system32", NTS, "drivers\\etc\\services", NTS,
                               "C:\\WINDOWS\\system32|drivers\\etc\\services"},
                      JoinCase{"C:\\dir\\", NTS, "\\file", NTS, "C:\\dir\\file"},
                      JoinCase{"C:/x/", NTS, "file", NTS, "C:/x/file"},
                      JoinCase{"", NTS, "\\file", NTS, "\\file"},
                      JoinCase{nullptr, NTS, "/f", NTS, "/f"},
                      JoinCase{"C:\\dir", NTS, "", NTS, "C:\\dir"},
                      JoinCase{"C:\\dir", NTS, "   ", NTS, "C:\\dir"},
                      JoinCase{"C:\\dir", NTS, "\\/\\name", NTS, "C:\\dir|name"},
                      JoinCase{"C:\\dir", NTS, "\\\\", NTS, "C:\\dir|"},
                      JoinCase{"C:\\dirXX", 6, "fileYY", 4, "C:\\dir|file"},
                      // Not a configured server: joined by the local rule, whole text kept.
                      JoinCase{"//server/share", NTS, "f", NTS, "//server/share|f"},
                      JoinCase{"  ", NTS, "f", NTS, "  f"}));

TEST(PathJoinLimits, CutResultIsReportedAndTerminated) {
  DiagContext* diag = diagCreate(nullptr);
  ASSERT_NE(diag, nullptr);
  std::string directory(400, 'd');
  char out[512];
  EXPECT_EQ(pathJoin(diag, directory.c_str(), NTS, std::string(200, 'n').c_str(), NTS, out, 512),
            STATUS_SUCCESS_WITH_INFO);
  EXPECT_EQ(std::strlen(out), 511u);
  EXPECT_EQ(testing::recordsOf(diag).size(), 1u);
  EXPECT_EQ(testing::recordsOf(diag)[0].state, "01004");

  diagClear(diag);
  char small[8];
  EXPECT_EQ(pathJoin(diag, "C:\\dir", NTS, "file", NTS, small, sizeof small),
            STATUS_SUCCESS_WITH_INFO);
  EXPECT_STREQ(small, withSeparator("C:\\dir|").c_str());
  diagFree(diag);
}

class LocateServicesFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    serviceOptions() = ServiceOptions{};
    sysSeamReset();
  }
  void TearDown() override {
    sysSeamReset();
    serviceOptions() = ServiceOptions{};
  }
  const char* path() const { return serviceOptions().servicesPath; }
  testing::FaultGuard faults_;
};

TEST_F(LocateServicesFileTest, EachFamilyJoinsItsOwnDirectory) {
  // The two directories differ, so that a family reading the other one's
  // directory shows.
  sysSeamRedirectDirectories("C:\\SYS", "C:\\WIN");
  const struct {
    SysFamily family;
    const char* path;
  } cases[] = {{SysFamily::WindowsNt, "C:\\SYS|drivers\\etc\\services"},
               {SysFamily::Windows95, "C:\\WIN|services"},
               {SysFamily::Posix, "C:\\SYS|services"}};
  for (const auto& c : cases) {
    sysSeamForceFamily(c.family);
    EXPECT_EQ(locateServicesFile(), 1);
    EXPECT_EQ(std::string(path()), withSeparator(c.path)) << static_cast<int>(c.family);
  }
}

TEST_F(LocateServicesFileTest, RealSystemGivesAPathEndingInTheServicesName) {
  EXPECT_EQ(locateServicesFile(), 1);
  std::string p = path();
  const std::string tail =
      sysOsFamily() == SysFamily::Posix ? "/etc/services" : "\\drivers\\etc\\services";
  ASSERT_GE(p.size(), tail.size());
  EXPECT_EQ(p.substr(p.size() - tail.size()), tail);
}

TEST_F(LocateServicesFileTest, UnknownFamilyGivesNothing) {
  sysSeamForceFamily(SysFamily::Unknown);
  EXPECT_EQ(locateServicesFile(), 0);
  EXPECT_STREQ(path(), "");
}

struct FailureCase {
  SysFamily family;
  FaultPoint point;
};

class LocateFailureTest : public LocateServicesFileTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LocateFailureTest, FailedSystemQueryGivesNoPath) {
  // The real family and directories, with one query made to fail.
  if (GetParam().family != SysFamily::Posix) sysSeamForceFamily(GetParam().family);
  std::strcpy(serviceOptions().servicesPath, "stale");
  faultArm(GetParam().point, 0);
  EXPECT_EQ(locateServicesFile(), 0);
  EXPECT_STREQ(path(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Queries, LocateFailureTest,
    ::testing::Values(FailureCase{SysFamily::Posix, FaultPoint::VersionQuery},
                      FailureCase{SysFamily::WindowsNt, FaultPoint::SystemDirectory},
                      FailureCase{SysFamily::Windows95, FaultPoint::WindowsDirectory}));

TEST_F(LocateServicesFileTest, EmptyDirectoryIsNeverJoined) {
  sysSeamRedirectDirectories("   ", "   ");
  EXPECT_EQ(locateServicesFile(), 0);
  EXPECT_STREQ(path(), "");
  sysSeamRedirectDirectories("", "");
  EXPECT_EQ(locateServicesFile(), 0);
}

TEST_F(LocateServicesFileTest, PathThatMayBeCutIsRefused) {
  std::string directory(511 - 9, 'd');  // plus separator and "services": 511
  sysSeamRedirectDirectories(nullptr, directory.c_str());
  sysSeamForceFamily(SysFamily::Windows95);
  EXPECT_EQ(locateServicesFile(), 0);
  EXPECT_STREQ(path(), "");
  directory.pop_back();  // 510 characters fit
  sysSeamRedirectDirectories(nullptr, directory.c_str());
  EXPECT_EQ(locateServicesFile(), 1);
  EXPECT_EQ(std::strlen(path()), 510u);
}

}  // namespace
}  // namespace volsten
