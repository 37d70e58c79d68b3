// IdvBench as a program: copied into a station folder of its own with the
// stand-in libraries, against the virtual card reader and the simulated module,
// offscreen for screenshots, under a real X server (Xvfb), and without a display.
#include <gtest/gtest.h>

#include <QImage>

#include "tests/station/presenter_fixture.h"
#include "tests/support/run_program.h"

namespace fx60::station {
namespace {

using namespace fx60::station::testing;
using fx60::testing::ProgramRun;
using fx60::testing::runProgramWithin;

const auto* const kFlags = ::testing::AddGlobalTestEnvironment(new PrivateFlagsEnvironment);

constexpr int kRunLimitMs = 60000;

bool onPath(const std::string& program) {
  return runProgramWithin({"sh", "-c", "command -v " + program}, {}, 5000).exitCode == 0;
}

class IdvBenchProgram : public PresenterTest {
 protected:
  void SetUp() override {
    PresenterTest::SetUp();
    station_ = programDir() / "station";
    fs::create_directories(station_);
    fs::copy_file(fs::path(FX60_STATION_DIR) / "IdvBench", station_ / "IdvBench");
    for (const char* library :
         {"libsdtapi.so", "libUniToGBK.so", "libWltRS.so", "libID_FprCap.so", "libID_Fpr.so"})
      fs::create_symlink(fs::path(FX60_STATION_DIR) / library, station_ / library);
    // The single-instance lock's folder, private as a runtime folder must be.
    runtime_ = programDir() / "runtime";
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all);
  }

  // The program with these arguments; each test gets its own runtime folder (the
  // single-instance lock) and, under a sanitizer, its folder named for dlopen.
  ProgramRun run(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
    arguments.insert(arguments.begin(), (station_ / "IdvBench").string());
    environment.push_back("XDG_RUNTIME_DIR=" + runtime_.string());
    environment.push_back("LD_LIBRARY_PATH=" + station_.string());
    return runProgramWithin(arguments, environment, kRunLimitMs);
  }

  void startHolderAndFinger() {
    startReader({"--card", makeCard("holder.card", {{0, 1}, {0, 3}}).string()});
    startFingerModuleWith({{0, 2}});
  }

  fs::path station_;
  fs::path runtime_;
};

TEST_F(IdvBenchProgram, ScreenshotsOfTheIdleWindowAndAfterAVerification) {
  REQUIRE_FINGER_IMAGES();
  startHolderAndFinger();
  const fs::path idle = programDir() / "idle.png";
  const ProgramRun idleRun = run({"--screenshot", idle.string()}, {"-QT_QPA_PLATFORM"});
  ASSERT_EQ(idleRun.exitCode, 0) << idleRun.output;
  const QImage idlePicture(QString::fromStdString(idle.string()));
  ASSERT_FALSE(idlePicture.isNull());
  EXPECT_GT(idlePicture.width(), 400);

  const fs::path verified = programDir() / "verified.png";
  const ProgramRun verifiedRun =
      run({"--trace", "--script", "verify; wait-status 提示：验证成功", "--screenshot", verified.string()});
  ASSERT_EQ(verifiedRun.exitCode, 0) << verifiedRun.output;
  EXPECT_NE(verifiedRun.output.find("# wait over"), std::string::npos) << verifiedRun.output;
  EXPECT_FALSE(QImage(QString::fromStdString(verified.string())).isNull());
  EXPECT_FALSE(fs::exists(station_ / "fingerimg.bmp")) << "deleted at exit";
}

TEST_F(IdvBenchProgram, TheCaptureDialogInAScriptAndAtTheEnd) {
  REQUIRE_FINGER_IMAGES();
  startReader();
  startFingerModuleWith({{0, 2}});
  const fs::path picture = programDir() / "capture.png";
  // Quality 101 is never reached: the dialog is still capturing when the script ends.
  const ProgramRun session = run({"--script", "capture-dialog 101; sleep 300; screenshot " + picture.string()},
                                 {"QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(session.exitCode, 0) << session.output;
  EXPECT_NE(session.output.find("capture dialog: -2"), std::string::npos) << "cancelled at the end\n" << session.output;
  EXPECT_FALSE(QImage(QString::fromStdString(picture.string())).isNull());

  const ProgramRun atOnce = run({"--script", "capture-dialog 101; exit"}, {"QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(atOnce.exitCode, 0) << atOnce.output;
}

TEST_F(IdvBenchProgram, AWaitThatLastsTooLongFailsTheRun) {
  startReader();  // found on the first port tried
  const ProgramRun session = run({"--timeout", "1", "--script", "wait-status 提示：验证成功"}, {"QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(session.exitCode, 1);
  EXPECT_NE(session.output.find("timed out waiting for 提示：验证成功"), std::string::npos) << session.output;

  const ProgramRun badLimit = run({"--timeout", "soon", "--script", "exit"}, {"QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(badLimit.exitCode, 2);
  EXPECT_NE(badLimit.output.find("--timeout takes whole seconds"), std::string::npos) << badLimit.output;
}

TEST_F(IdvBenchProgram, WithoutADisplayItSaysSoInsteadOfAborting) {
  const ProgramRun session = run({}, {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM"});
  EXPECT_EQ(session.exitCode, 1) << session.output;
  EXPECT_NE(session.output.find("IdvBench: no display could be opened"), std::string::npos) << session.output;
}

TEST_F(IdvBenchProgram, UnderAnXServerItVerifiesACardHolderAndExits) {
  REQUIRE_FINGER_IMAGES();
  if (!onPath("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed (Debian: xvfb, xauth)";
  startHolderAndFinger();
  std::vector<std::string> arguments{"xvfb-run", "-a", "-s", "-screen 0 1024x768x24", (station_ / "IdvBench").string(),
                                     "--script", "verify; wait-status 提示：验证成功; exit"};
  // Under the leak checker: what the system's D-Bus library keeps is not ours.
  const std::string suppressions = std::string(FX60_SOURCE_DIR) + "/tests/support/lsan_system_libraries.supp";
  const ProgramRun session =
      runProgramWithin(arguments,
                       {"-QT_QPA_PLATFORM", "XDG_RUNTIME_DIR=" + runtime_.string(),
                        "LD_LIBRARY_PATH=" + station_.string(), "LSAN_OPTIONS=suppressions=" + suppressions},
                       kRunLimitMs);
  EXPECT_EQ(session.exitCode, 0) << session.output;
}

}  // namespace
}  // namespace fx60::station
