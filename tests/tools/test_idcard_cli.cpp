// The idcard program: cards made from pictures, images and templates, and the
// clear refusals of what cannot go on a card.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/idcard/card_file.h"
#include "sim/idcard/photo_block.h"
#include "sim/idcard/portrait.h"
#include "tests/sim/finger_images.h"
#include "tests/support/run_program.h"
#include "tools/support/image_io.h"

namespace {

namespace fs = std::filesystem;
using fx60::testing::runProgram;
namespace idcard = fx60::idcard;

class IdcardTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("idcard-cli-" + std::to_string(getpid()));
    fs::create_directories(dir);
    // A template file, taken from a sample card.
    const auto sample = idcard::readCardFile(fs::path(FX60_SOURCE_DIR) / "resources/cards/zhang-wei.card", nullptr);
    ASSERT_TRUE(sample);
    std::ofstream(dir / "finger.tpl", std::ios::binary)
        .write(reinterpret_cast<const char*>(sample->fingerprints.data()), 512);
    ASSERT_EQ(runProgram(IDCARD_TOOL, "portrait --variant 2 -o '" + (dir / "portrait.jpg").string() + "'").exitCode, 0);
  }
  void TearDown() override { fs::remove_all(dir); }

  fx60::testing::ProgramRun make(const std::string& extra) {
    return runProgram(IDCARD_TOOL, "make -o '" + (dir / "out.card").string() +
                                       "' --name 张三 --sex 男 --nation 汉族 --birth 19900307 --address 北京市 "
                                       "--id-number 11010819900307001X --authority 北京市公安局 "
                                       "--valid-from 20200101 --valid-to 20400101 " + extra);
  }

  fs::path dir;
};

TEST_F(IdcardTool, MakesACardFromAPngPhotoAndTemplatesAndShowsIt) {
  // A wide PNG of another size: cropped about its centre and squeezed.
  fx60::tool::ColourImage wide(300, 150);
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 300; ++x) wide.set(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y), 128);
  std::string error;
  ASSERT_TRUE(fx60::tool::writeImage((dir / "wide.png").string(), wide, error)) << error;
  const std::string tpl = "'" + (dir / "finger.tpl").string() + "'";
  const auto run = make("--photo '" + (dir / "wide.png").string() + "' --finger " + tpl + " --finger " + tpl);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto card = idcard::readCardFile(dir / "out.card", &error);
  ASSERT_TRUE(card) << error;
  EXPECT_EQ(card->field(idcard::Field::Sex), "1");
  EXPECT_EQ(card->field(idcard::Field::Nation), "01");
  EXPECT_EQ(card->fingerprints.size(), 1024u);
  const auto photo = idcard::decodePhotoBlock(card->photoBlock, &error);
  ASSERT_TRUE(photo) << error;
  EXPECT_NEAR(photo->rgb[(63 * 102 + 51) * 3], 150, 12);  // the centre column of the source was x = 150

  const auto shown = runProgram(IDCARD_TOOL, "show '" + (dir / "out.card").string() + "'");
  EXPECT_EQ(shown.exitCode, 0);
  EXPECT_NE(shown.output.find("name: 张三\n"), std::string::npos) << shown.output;
  EXPECT_NE(shown.output.find("fingerprints: 2\n"), std::string::npos) << shown.output;
}

TEST_F(IdcardTool, FingerprintImagesBecomeUnsealedCardTemplates) {
  REQUIRE_FINGER_IMAGES();
  const auto run = make("--photo '" + (dir / "portrait.jpg").string() + "' --finger '" +
                        fx60::sim::testing::fingerImageFile(0, 1)->string() + "'");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto card = idcard::readCardFile(dir / "out.card", nullptr);
  ASSERT_TRUE(card);
  ASSERT_EQ(card->fingerprints.size(), 512u);
  EXPECT_EQ(card->fingerprints[0], 0x43);
  EXPECT_EQ(card->fingerprints[490], 0);  // no seal
}

TEST_F(IdcardTool, RefusesWhatCannotGoOnACardWithAClearMessage) {
  const std::string photo = "--photo '" + (dir / "portrait.jpg").string() + "'";
  const std::string tpl = " --finger '" + (dir / "finger.tpl").string() + "'";
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {photo + " --address 一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一二三四五六",
       "address: \"一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一二三四五六\" has 36 characters; the card holds at most 35"},
      {photo + " --nation 火星族", "nation: \"火星族\" is neither a code"},
      {"--photo '" + (dir / "finger.tpl").string() + "'", "not a PNG or JPEG picture"},
      {photo + tpl + tpl + tpl, "a card holds at most two fingerprints"},
      {"", "give either --photo or --photo-block"},
      {photo + " --finger '" + (dir / "portrait.jpg").string() + "'", "portrait.jpg"},
  };
  for (const Case& c : cases) {
    const auto run = make(c.arguments);
    EXPECT_EQ(run.exitCode, 1) << c.arguments;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(dir / "out.card"));
  }
}

}  // namespace
