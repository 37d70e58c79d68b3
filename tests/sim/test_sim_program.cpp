// fx60-sim as a program: the paths it is given. It never deletes a file that is
// not its socket, never takes a socket over from a simulator still serving it,
// replaces a socket left by one that died, and refuses inputs it cannot read
// instead of waiting on them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/cable/virtual_cable.h"
#include "platform/hid_device.h"
#include "tests/platform/fake_cable_server.h"
#include "tests/sim/simulator_process.h"
#include "tests/support/run_program.h"
#include "tests/support/test_sockets.h"

namespace fx60::sim {
namespace {

namespace fs = std::filesystem;
using namespace fx60::sim::testing;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string fileText(const fs::path& file) {
  std::ifstream in(file);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One run of fx60-sim that is expected to refuse and end; cut off after 10 s.
fx60::testing::ProgramRun runRefused(const std::string& arguments) {
  return fx60::testing::runProgram("timeout", "-k 2 10 '" + std::string(kFx60SimProgram) + "' " + arguments);
}

class SimProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path("/tmp") / ("fx60-sim-program-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }

  fs::path dir_;
};

TEST_F(SimProgram, AFileThatIsNotASocketIsRefusedAndKept) {
  std::ofstream(dir_ / "notes.txt") << "keep me";
  const auto cable = runRefused(path("notes.txt"));
  EXPECT_EQ(cable.exitCode, 1) << cable.output;
  EXPECT_TRUE(contains(cable.output, "notes.txt: exists and is not a socket; not replacing it")) << cable.output;

  const auto control = runRefused("--control " + path("notes.txt") + " " + path("cable"));
  EXPECT_EQ(control.exitCode, 1) << control.output;
  EXPECT_TRUE(contains(control.output, "notes.txt: exists and is not a socket")) << control.output;
  EXPECT_EQ(fileText(dir_ / "notes.txt"), "keep me");
  EXPECT_FALSE(fs::exists(dir_ / "cable"));  // the cable it had bound is gone again

  fs::create_directories(dir_ / "folder");
  EXPECT_EQ(runRefused(path("folder")).exitCode, 1);
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_EQ(runRefused("--control " + path("same") + " " + path("same")).exitCode, 1);
}

TEST_F(SimProgram, ASocketALiveSimulatorServesIsNotTakenOver) {
  SimulatorProcess first(dir_, "first");
  ASSERT_TRUE(first.start({}));
  const auto second = runRefused(path("first.cable"));
  EXPECT_EQ(second.exitCode, 1) << second.output;
  EXPECT_TRUE(contains(second.output, "another server is listening on this socket")) << second.output;
  const auto secondControl = runRefused("--control " + path("first.control") + " " + path("other"));
  EXPECT_EQ(secondControl.exitCode, 1) << secondControl.output;
  // The first still answers on both.
  EXPECT_EQ(first.status()["plugged"], "1");
  const int cable = connectUnix(first.cablePath());
  EXPECT_GE(cable, 0);
  if (cable >= 0) ::close(cable);
}

TEST_F(SimProgram, ASocketLeftByASimulatorThatDiedIsReplaced) {
  SimulatorProcess crashed(dir_, "sim");
  ASSERT_TRUE(crashed.start({}));
  ::kill(crashed.pid(), SIGKILL);  // leaves both socket files behind
  crashed.stop();
  ASSERT_TRUE(fs::is_socket(dir_ / "sim.cable"));
  SimulatorProcess next(dir_, "sim");
  ASSERT_TRUE(next.start({}));
  EXPECT_EQ(next.status()["plugged"], "1");
}

// A number names a TCP port of 127.0.0.1 (for Windows programs, which reach the
// simulator that way); a port already taken is refused.
TEST_F(SimProgram, ANumberIsATcpPortOfTheLoopbackInterface) {
  uint16_t port = 0;
  auto probe = fx60::testing::test_sockets::listenOnLoopback(&port);
  ASSERT_NE(probe, fx60::testing::test_sockets::kNone);
  fx60::testing::test_sockets::closeSocket(probe);
  const std::string address = std::to_string(port);
  const pid_t simulator = spawnProgram({kFx60SimProgram, "--exit-with-parent", "--mode", "hid", address});
  ASSERT_GT(simulator, 0);
  fx60::testing::ScopedEnvironment cable(platform::cable::kSimulatorVariable, address);
  std::vector<platform::HidDeviceInfo> devices;
  EXPECT_TRUE(waitUntil([&] {
    devices = platform::listHidDevices();
    return !devices.empty();
  }, 5000));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].vendorId, 0x821B);
  EXPECT_EQ(devices[0].productId, 0x0202);

  const auto second = runRefused(address);
  EXPECT_EQ(second.exitCode, 1) << second.output;
  EXPECT_TRUE(contains(second.output, "127.0.0.1:" + address)) << second.output;
  ::kill(simulator, SIGTERM);
  EXPECT_GE(waitForExit(simulator, 3000), 0);
}

TEST_F(SimProgram, InputsThatAreNotReadableFilesAreRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  fs::create_directories(dir_ / "empty-folder");
  std::ofstream(dir_ / "empty.pgm").close();
  const struct {
    std::string options;
    std::string message;
  } cases[] = {
      {"--images " + path("fifo"), "fifo: is not a regular file"},
      {"--images " + path("empty.pgm"), "empty.pgm: not a binary PGM"},
      {"--images " + path("empty-folder"), "empty-folder: no .pgm images"},
      {"--images " + path("missing.pgm"), "missing.pgm: no such file"},
      {"--finger-file " + path("fifo"), "fifo: is not a regular file"},
      {"--finger-file " + path("empty-folder"), "empty-folder: is a folder"},
      {"--log=" + (dir_ / "fifo").string(), "fifo: a FIFO that nobody reads"},
  };
  for (const auto& bad : cases) {
    const auto run = runRefused(bad.options + " " + path("cable"));
    EXPECT_TRUE(run.exitCode == 1 || run.exitCode == 2) << bad.options << ":\n" << run.output;
    EXPECT_TRUE(contains(run.output, bad.message)) << bad.options << ":\n" << run.output;
  }
}

}  // namespace
}  // namespace fx60::sim
