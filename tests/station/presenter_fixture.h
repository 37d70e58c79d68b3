// The presenter with a recording view, against the virtual card reader, the
// simulated fingerprint module and the stand-in libraries in a program directory
// of the test's own.
#pragma once

#include <gmock/gmock.h>

#include <array>
#include <chrono>
#include <memory>
#include <vector>

#include "station/idvbench_dlg.h"
#include "tests/sim/card_reader_process.h"
#include "tests/sim/finger_images.h"
#ifdef _WIN32
#include "tests/sim/linux_card_tool.h"
#else
#include "sim/idcard/card_maker.h"
#include "tests/sim/test_cards.h"
#endif
#include "tests/station/recording_view.h"
#include "tests/station/station_fixture.h"

namespace fx60::station::testing {

using namespace std::chrono_literals;
using fx60::sim::testing::CardReaderProcess;

class PresenterTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    if (IsSkipped()) return;
    linkLibraries({"UniToGBK.dll", "WltRS.dll", "ID_FprCap.dll", "ID_Fpr.dll"});
    settings_.programDirectory = programDir();
    settings_.cardReaderLibrary = (fs::path(FX60_STATION_DIR) / "sdtapi.dll").string();
    settings_.timing.readerSearchPause = 2ms;
    settings_.timing.cardPollPause = 100ms;
  }

  void TearDown() override {
    dialog_.reset();
    reader_.reset();
    ts::setEnvironment("IDCARD_SIMULATOR", nullptr);
    StationTest::TearDown();
  }

  // idcard-sim on port 1001 unless the options say otherwise, with the library
  // of this process pointed at it.
  CardReaderProcess& startReader(std::vector<std::string> options = {}) {
    reader_ = std::make_unique<CardReaderProcess>(programDir(), "reader", IDCARD_SIM_PROGRAM);
    EXPECT_TRUE(reader_->start(options)) << "idcard-sim did not start";
    reader_->connectLibrary();
    return *reader_;
  }
  CardReaderProcess& reader() { return *reader_; }

  // A card of the usual holder with the templates of these finger images.
  fs::path makeCard(const std::string& name, const std::vector<std::pair<int, int>>& fingerImpressions) {
#ifdef _WIN32
    std::vector<fs::path> images;
    for (const auto& [finger, impression] : fingerImpressions)
      images.push_back(fx60::sim::testing::fingerImageFile(finger, impression).value_or(fs::path()));
    return fx60::sim::testing::makeCardWithLinuxTool(programDir(), name, images);
#else
    std::vector<uint8_t> block;
    for (const auto& [finger, impression] : fingerImpressions) {
      const auto image = fx60::sim::testing::fingerImage(finger, impression);
      std::string error;
      const auto cardTemplate = fx60::idcard::cardTemplate(image.data(), &error);
      EXPECT_TRUE(cardTemplate.has_value()) << error;
      if (cardTemplate) block.insert(block.end(), cardTemplate->begin(), cardTemplate->end());
    }
    return makeCardWithBlock(name, block);
#endif
  }
  fs::path makeCardWithBlock(const std::string& name, const std::vector<uint8_t>& fingerprints) {
#ifdef _WIN32
    return fx60::sim::testing::makeCardWithLinuxTool(programDir(), name,
                                                     fx60::sim::testing::templateFiles(programDir(), name, fingerprints));
#else
    return fx60::sim::testing::writeTestCard(programDir(), name, fx60::sim::testing::sampleCard(fingerprints));
#endif
  }

  // fx60-sim serving these impressions, one per capture in turn, with a finger
  // that lies down for each capture and is lifted after it.
  void startFingerModuleWith(const std::vector<std::pair<int, int>>& images, const std::string& finger = "") {
    std::vector<std::string> options;
    for (const auto& [which, impression] : images)
      options.insert(options.end(), {"--images", fx60::sim::testing::fingerImageFile(which, impression)->string()});
    options.insert(options.end(), {"--finger", finger.empty() ? liftedAfterEachCapture(4) : finger});
    startFingerModule(options);
  }

  // A finger present for the two captures of each live template (the template's
  // and the saved image's), then lifted for one poll.
  static std::string liftedAfterEachCapture(int templates) {
    std::string script;
    for (int i = 0; i < templates; ++i) script += "present:2 lifted:1 ";
    return script + "lifted";
  }

  // Whether the reader sees no connection left, once it has noticed the last
  // one closed.
  static bool noPortOpen(const CardReaderProcess& reader) {
    return fx60::sim::testing::waitUntil([&] { return reader.status()["links"] == "0"; }, 3000);
  }

  CIdvBenchDlg& startDialog() {
    dialog_ = std::make_unique<CIdvBenchDlg>(view_, settings_);
    EXPECT_TRUE(dialog_->OnInitDialog());
    return *dialog_;
  }
  CIdvBenchDlg& dialog() { return *dialog_; }

  // Runs the view's loop until the workflow has ended and shown its last effects.
  bool waitUntilIdle(int timeoutMs = 15000) {
    const bool idle = view_.runUntil([&] { return !dialog_->workflowRunning(); }, timeoutMs);
    view_.loop.runPending();
    return idle;
  }
  bool waitForStatus(const std::string& text, int timeoutMs = 10000) {
    return view_.runUntil([&] { return view_.status == text; }, timeoutMs);
  }

  RecordingView view_;
  StationSettings settings_;

 private:
  std::unique_ptr<CardReaderProcess> reader_;
  std::unique_ptr<CIdvBenchDlg> dialog_;
};

}  // namespace fx60::station::testing
