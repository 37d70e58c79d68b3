// What the station's tests share: a private program directory per test, private
// capture flags per test program, and the simulated fingerprint module.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "tests/sim/simulator_process.h"
#include "tests/support/test_data.h"
#include "tests/support/test_sockets.h"

namespace fx60::station::testing {

namespace fs = std::filesystem;
namespace ts = fx60::testing::test_sockets;

inline std::string privateFlagsName() { return "/fx60-station-test-" + std::to_string(ts::processId()); }

// Every test process gets its own shared capture flags, so that test programs
// running side by side never cancel or block each other's captures.
class PrivateFlagsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ts::setEnvironment("FX60_SHARED_FLAGS_NAME", privateFlagsName().c_str()); }
  void TearDown() override { ts::removeSharedBlock(privateFlagsName().c_str()); }
};

// A shared image whose quality score is exactly 59 or 60, the two sides of the
// capture threshold; empty when the shared images are absent.
inline std::optional<fs::path> fingerImageOfQuality(int quality) {
  const auto data = fx60::testing::sharedDataDir();
  if (!data || (quality != 59 && quality != 60)) return std::nullopt;
  const fs::path image = *data / "fp" / (quality == 59 ? "fvc2002-db2b/107_2.pgm" : "fvc2002-db1b/101_8.pgm");
  return fs::is_regular_file(image) ? std::optional(image) : std::nullopt;
}

// The stand-in library a Windows program knows as `windowsName` ("WltRS.dll"),
// placed in `dir` from the build's station folder: a link, or on Windows a copy.
inline void placeStationLibrary(const std::string& windowsName, const fs::path& dir,
                                const std::string& asName = "") {
  const std::string file = platform::sharedLibraryFileName(windowsName);
  const fs::path target = dir / platform::sharedLibraryFileName(asName.empty() ? windowsName : asName);
#ifdef _WIN32
  fs::copy_file(fs::path(FX60_STATION_DIR) / file, target, fs::copy_options::overwrite_existing);
#else
  fs::create_symlink(fs::path(FX60_STATION_DIR) / file, target);
#endif
}

// A program directory of its own for each test, holding links to the stand-in
// libraries that the station loads from its directory.
class StationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir_ = fs::temp_directory_path() /
           ("station-test-" + std::to_string(ts::processId()) + "-" + std::to_string(++counter));
    fs::create_directories(dir_);
#ifdef _WIN32
    if (!fx60::sim::testing::runsUnderWine())
      GTEST_SKIP() << "the simulators are Linux programs: these tests run under Wine";
#endif
  }

  void TearDown() override {
    fingerModule_.reset();
    ts::setEnvironment("FX60_SIMULATOR", nullptr);
    std::error_code error;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(dir_, error);
  }

  const fs::path& programDir() const { return dir_; }

  // Places the named stand-ins ("WltRS.dll"...) from the build's station folder.
  void linkLibraries(const std::vector<std::string>& windowsNames) {
    for (const auto& name : windowsNames) placeStationLibrary(name, dir_);
  }

  void writeConfiguration(const std::string& text) {
    std::ofstream(dir_ / "IdvBench.config.ini", std::ios::binary) << text;
  }

  // Starts fx60-sim (mass storage unless the options say otherwise) and points
  // the driver library at it.
  fx60::sim::testing::SimulatorProcess& startFingerModule(std::vector<std::string> options = {}) {
    fingerModule_ = std::make_unique<fx60::sim::testing::SimulatorProcess>(dir_, "fx60");
    options.insert(options.begin(), {"--mode", "storage"});
    EXPECT_TRUE(fingerModule_->start(options)) << "fx60-sim did not start";
    ts::setEnvironment("FX60_SIMULATOR", fingerModule_->cablePath().c_str());
    return *fingerModule_;
  }

  fx60::sim::testing::SimulatorProcess& fingerModule() { return *fingerModule_; }

  // fx60-sim options that serve this image on every capture.
  static std::vector<std::string> servedImage(const fs::path& image) { return {"--images", image.string()}; }

 private:
  fs::path dir_;
  std::unique_ptr<fx60::sim::testing::SimulatorProcess> fingerModule_;
};

}  // namespace fx60::station::testing
