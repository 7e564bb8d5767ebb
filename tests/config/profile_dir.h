// A private Windows directory for tests of the profile and what reads it:
// volsten.ini is written there, and the platform layer's Windows directory
// points there until the object goes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "config/code_table.h"
#include "config/profile.h"
#include "sys/seam.h"
#include "tests/utils/files.h"

namespace volsten::testing {

class ProfileDir {
 public:
  ProfileDir() {
    EXPECT_TRUE(dir_.ok());
    sysSeamRedirectDirectories(nullptr, dir_.root().string().c_str());
  }
  ~ProfileDir() {
    sysSeamRedirectDirectories(nullptr, nullptr);
    codeTableSeamClear();
  }
  ProfileDir(const ProfileDir&) = delete;
  ProfileDir& operator=(const ProfileDir&) = delete;

  void writeProfile(const std::string& text) { write(kProfileName, text); }
  std::string write(const std::string& name, const std::string& text) {
    std::string path = dir_.path(name);
    EXPECT_TRUE(writeFile(path, text));
    return path;
  }

 private:
  TempDir dir_;
};

}  // namespace volsten::testing
