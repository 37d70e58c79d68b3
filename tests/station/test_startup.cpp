// Start-up in the order of the program and the dialog: one copy at a time, the
// card-reader library, the image files, the reader's port, the configuration.
#include <gtest/gtest.h>

#include <fstream>

#include "station/idvbench_app.h"
#include "tests/station/presenter_fixture.h"

namespace fx60::station {
namespace {

using namespace fx60::station::testing;
using ::testing::ElementsAre;
using Clock = std::chrono::steady_clock;

class Startup : public PresenterTest {};

TEST_F(Startup, AMissingCardReaderLibraryEndsTheProgramAfterItsBox) {
  settings_.cardReaderLibrary = (programDir() / "sdtapi.dll").string();  // not there
  std::ofstream(programDir() / "fingerimg.bmp") << "old";
  CIdvBenchDlg dialog(view_, settings_);
  EXPECT_FALSE(dialog.OnInitDialog());
  EXPECT_TRUE(view_.runUntil([&] { return view_.closed; }));
  EXPECT_THAT(view_.events, ElementsAre("box: 加载动态库失败 | IdvBench | stop | owned", "closed"));
  EXPECT_TRUE(fs::exists(programDir() / "fingerimg.bmp"));  // it stopped before the files

  // Later presses do nothing.
  dialog.OnVerify();
  dialog.OnQuerySerial();
  EXPECT_EQ(view_.events.size(), 2u);
}

TEST_F(Startup, ALibraryWithoutEveryEntryPointCountsAsMissing) {
  settings_.cardReaderLibrary = (fs::path(FX60_STATION_DIR) / "UniToGBK.dll").string();
  CIdvBenchDlg dialog(view_, settings_);
  EXPECT_FALSE(dialog.OnInitDialog());
  EXPECT_TRUE(view_.runUntil([&] { return view_.closed; }));
  EXPECT_EQ(view_.events.front(), "box: 加载动态库失败 | IdvBench | stop | owned");
}

TEST_F(Startup, TheReaderIsFoundOnItsPortAfterThePausesOfThePortsBefore) {
  auto& reader = startReader({"--port", "1003"});
  settings_.timing = StationTiming{};  // the program's own pauses
  const auto start = Clock::now();
  auto& dialog = startDialog();
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(dialog.readerPort(), 1003);
  EXPECT_THAT(view_.events, ElementsAre("status: 提示：身份证阅读器机具连接成功"));
  EXPECT_GE(elapsed, 600ms);  // 300 ms after each of 1001 and 1002
  EXPECT_TRUE(noPortOpen(reader));  // the port is closed again
}

TEST_F(Startup, WithoutAReaderEveryPortIsTriedAndThePortStaysZero) {
  auto& reader = startReader({"--port", "1017"});
  auto& dialog = startDialog();
  EXPECT_EQ(dialog.readerPort(), 0);
  EXPECT_THAT(view_.events, ElementsAre("status: 提示：身份证阅读器机具连接失败"));
  EXPECT_EQ(reader.counter("opens"), 16);
  EXPECT_TRUE(noPortOpen(reader));

  // Every later reader call goes to port 0: a workflow refuses to start.
  dialog.OnCompare();
  view_.runFor(50);
  EXPECT_EQ(view_.linesStartingWith("box").back(), "box: 身份证阅读器机具未连接 | IdvBench | stop | owned");
  EXPECT_FALSE(dialog.workflowRunning());
  EXPECT_TRUE(view_.captions.empty());
}

TEST_F(Startup, ImageFilesOfAnEarlierRunAreDeletedButNotThePhotoSource) {
  startReader();
  for (const char* name : {"idcard_photo.bmp", "fingerimg.bmp", "idcard_photo.wlt"})
    std::ofstream(programDir() / name) << "old";
  startDialog();
  EXPECT_FALSE(fs::exists(programDir() / "idcard_photo.bmp"));
  EXPECT_FALSE(fs::exists(programDir() / "fingerimg.bmp"));
  EXPECT_TRUE(fs::exists(programDir() / "idcard_photo.wlt"));
}

TEST_F(Startup, FingerTypeChoosesTheDevice) {
  startReader();
  struct Case {
    const char* configuration;  // null: no file
    const char* device;
  };
  const Case cases[] = {
      {nullptr, "driver"},
      {"[FingerConfig]\nFingerType=0\n", "driver"},
      {"[FingerConfig]\nFingerType=1\n", "standard"},
      {"[FingerConfig]\nFingerType=2\n", "none"},
      {"[FingerConfig]\nFingerType=abc\n", "driver"},       // no digits read as 0
      {"[FingerConfig]\nFingerType=99999999999\n", "none"},  // wraps to 1215752191
      {"[FingerConfig]\nOther=1\n", "driver"},
  };
  for (const Case& each : cases) {
    fs::remove(programDir() / "IdvBench.config.ini");
    if (each.configuration) writeConfiguration(each.configuration);
    CIdvBenchDlg dialog(view_, settings_);
    ASSERT_TRUE(dialog.OnInitDialog());
    const CFingerprintDevice* device = dialog.fingerprintDevice();
    const char* kind = device == nullptr                                              ? "none"
                       : dynamic_cast<const CDriverFingerprintDevice*>(device) != nullptr ? "driver"
                                                                                          : "standard";
    EXPECT_STREQ(kind, each.device) << (each.configuration ? each.configuration : "no file");
  }
}

TEST_F(Startup, ASecondCopyWarnsAndEndsWithoutItsDialog) {
  CIdvBenchApp first(programDir());
  RecordingView firstView;
  ASSERT_TRUE(first.InitInstance(firstView));

  CIdvBenchApp second(programDir());
  EXPECT_FALSE(second.InitInstance(view_));
  EXPECT_TRUE(view_.runUntil([&] { return view_.closed; }));
  EXPECT_THAT(view_.events, ElementsAre("box: 测试软件已启动 | 警告 | none | no owner", "closed"));
  EXPECT_TRUE(firstView.events.empty());

  // Once the first copy has ended, the next one starts.
  { CIdvBenchApp gone = std::move(first); }
  CIdvBenchApp third(programDir());
  RecordingView thirdView;
  EXPECT_TRUE(third.InitInstance(thirdView));
}

}  // namespace
}  // namespace fx60::station
