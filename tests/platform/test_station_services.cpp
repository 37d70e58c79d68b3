// The process services of the station program: INI reading with the Windows
// reader's rules, library file names, the single-instance lock, text encodings.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/dynamic_library.h"
#include "platform/process_services.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "tests/support/test_sockets.h"

namespace fx60::platform {
namespace {

namespace fs = std::filesystem;

class StationServices : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("station-services-" + std::to_string(testing::test_sockets::processId()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path writeIni(const std::string& text) {
    const fs::path file = dir_ / "test.ini";
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

  int fingerType(const std::string& iniText) {
    return readProfileInt(writeIni(iniText), "FingerConfig", "FingerType", 0);
  }

  fs::path dir_;
};

TEST_F(StationServices, ProfileIntegersAreReadFromTheirLeadingDigits) {
  EXPECT_EQ(fingerType("[FingerConfig]\nFingerType=1\n"), 1);
  EXPECT_EQ(fingerType("[fingerconfig]\r\n  fingertype = 2 \r\n"), 2);  // names ignore case, blanks trimmed
  EXPECT_EQ(fingerType("[FingerConfig]\nFingerType=12abc\n"), 12);
  EXPECT_EQ(fingerType("[FingerConfig]\nFingerType=-3\n"), -3);
  EXPECT_EQ(fingerType("[FingerConfig]\nFingerType=abc\n"), 0);
  EXPECT_EQ(fingerType("[FingerConfig]\nFingerType=\"1\"\n"), 1);
  // Beyond 32 bits the value wraps around instead of saturating.
  EXPECT_EQ(fingerType("[FingerConfig]\nFingerType=99999999999\n"), 1215752191);
  EXPECT_EQ(fingerType("[FingerConfig]\nFingerType=4294967297\n"), 1);
}

TEST_F(StationServices, MissingProfileEntriesGiveTheDefault) {
  EXPECT_EQ(readProfileInt(dir_ / "absent.ini", "FingerConfig", "FingerType", 7), 7);
  EXPECT_EQ(readProfileInt(writeIni("[Other]\nFingerType=1\n"), "FingerConfig", "FingerType", 7), 7);
  EXPECT_EQ(readProfileInt(writeIni("[FingerConfig]\nFingerKind=1\n"), "FingerConfig", "FingerType", 7), 7);
  EXPECT_EQ(readProfileInt(writeIni("[FingerConfig]\nFingerType=\n"), "FingerConfig", "FingerType", 7), 7);
  EXPECT_EQ(readProfileInt(writeIni("[FingerConfig]\n;FingerType=1\n"), "FingerConfig", "FingerType", 7), 7);
  // The first section of the name and the first key in it count.
  EXPECT_EQ(fingerType("[FingerConfig]\nFingerType=1\nFingerType=2\n[FingerConfig]\nFingerType=3\n"), 1);
  EXPECT_EQ(readProfileInt(dir_, "FingerConfig", "FingerType", 7), 7);  // a directory is no file
}

TEST_F(StationServices, WindowsLibraryNamesMapToSharedObjectNames) {
  EXPECT_EQ(sharedLibraryFileName("sdtapi.dll"), "libsdtapi.so");
  EXPECT_EQ(sharedLibraryFileName("/opt/station/ID_FprCap.dll"), "/opt/station/libID_FprCap.so");
  EXPECT_EQ(sharedLibraryFileName("libm.so.6"), "libm.so.6");
  EXPECT_EQ(DynamicLibrary::load("libdoes-not-exist.so"), nullptr);
  EXPECT_EQ(DynamicLibrary::load(""), nullptr);

  auto maths = DynamicLibrary::load("libm.so.6");
  ASSERT_NE(maths, nullptr);
  double (*cosine)(double) = nullptr;
  EXPECT_TRUE(maths->bind("cos", cosine));
  EXPECT_EQ(cosine(0.0), 1.0);
  int (*missing)() = nullptr;
  EXPECT_FALSE(maths->bind("no_such_function", missing));
}

TEST_F(StationServices, OneHolderOfTheInstanceLockAtATime) {
  std::unique_ptr<InstanceLock> first, second;
  ASSERT_EQ(acquireInstanceLock("test6", dir_, first), InstanceLockResult::Acquired);
  EXPECT_EQ(acquireInstanceLock("test6", dir_, second), InstanceLockResult::HeldElsewhere);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(acquireInstanceLock("other", dir_, second), InstanceLockResult::Acquired);
  first.reset();
  std::unique_ptr<InstanceLock> third;
  EXPECT_EQ(acquireInstanceLock("test6", dir_, third), InstanceLockResult::Acquired);
}

// The lock file's folder must exist (Windows keeps the lock as a named mutex, with
// no folder).
TEST_F(StationServices, InstanceLockInAMissingFolderFails) {
  std::unique_ptr<InstanceLock> nowhere;
  EXPECT_EQ(acquireInstanceLock("test6", dir_ / "missing", nowhere), InstanceLockResult::Failed);
}

TEST_F(StationServices, DeletingAMissingFileIsNoError) {
  const fs::path file = dir_ / "image.bmp";
  std::ofstream(file) << "x";
  EXPECT_TRUE(deleteFile(file));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(deleteFile(file));
  EXPECT_FALSE(deleteFile(dir_));  // a directory is not deleted
  EXPECT_TRUE(fs::exists(dir_));
  EXPECT_FALSE(programDirectory().empty());
  EXPECT_EQ(programFilePath().parent_path(), programDirectory());
}

TEST_F(StationServices, CardTextsConvertBetweenGbkAndUtf8) {
  const auto gbk = utf8ToGbk("汉族 A1");
  ASSERT_TRUE(gbk.has_value());
  EXPECT_EQ(*gbk, "\xBA\xBA\xD7\xE5 A1");
  EXPECT_EQ(gbkToUtf8(*gbk), "汉族 A1");
  EXPECT_EQ(gbkToUtf8("\xBA\xBA\xFF" "A"), "汉\xEF\xBF\xBD" "A");  // a bad byte shows as U+FFFD
  EXPECT_EQ(gbkToUtf8("\xBA"), "\xEF\xBF\xBD");                     // so does a cut-off character
  EXPECT_FALSE(utf8ToGbk("\xFF").has_value());
  EXPECT_FALSE(utf8ToGbk("😀").has_value());  // no GBK counterpart
}

}  // namespace
}  // namespace fx60::platform
