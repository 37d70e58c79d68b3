// The dialog's buttons and the three workflows, seen through the view, against
// the virtual card reader, the simulated fingerprint module and the stand-ins.
#include <gtest/gtest.h>

#include <fstream>

#include "fx60link.h"
#include "tests/station/presenter_fixture.h"

namespace fx60::station {
namespace {

using namespace fx60::station::testing;
using ::testing::ElementsAre;

const auto* const kFlags = ::testing::AddGlobalTestEnvironment(new PrivateFlagsEnvironment);

class Workflows : public PresenterTest {
 protected:
  // The card of finger 0 (impressions 1 and 3) on the reader and the dialog up.
  void startWithCard(const std::vector<std::pair<int, int>>& cardFingers = {{0, 1}, {0, 3}}) {
    startReader({"--card", makeCard("holder.card", cardFingers).string()});
    startDialog();
    view_.events.clear();
  }
};

// ---- buttons without a workflow ----------------------------------------------------

TEST_F(Workflows, SerialNumberQuery) {
  auto& reader = startReader({"--serial", "SAM-0042-TEST"});
  auto& dialog = startDialog();
  view_.events.clear();
  dialog.OnQuerySerial();
  view_.runFor(20);
  EXPECT_EQ(view_.linesStartingWith("box").back(), "box: SAM-0042-TEST | IdvBench | none | owned");

  reader.failNext(1);
  dialog.OnQuerySerial();
  view_.runFor(20);
  EXPECT_EQ(view_.linesStartingWith("box").back(), "box: 查询序列号失败 | IdvBench | stop | owned");
  // The status line follows the box, once it is dismissed.
  const auto& events = view_.events;
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.back(), "status: 提示：查询序列号失败");
  EXPECT_EQ(events[events.size() - 2].rfind("box: 查询序列号失败", 0), 0u);
}

TEST_F(Workflows, ClearEmptiesTheDisplayAndDeletesTheImagesButKeepsTheStatus) {
  REQUIRE_FINGER_IMAGES();
  startWithCard();
  startFingerModuleWith({{0, 2}});
  dialog().OnVerify();
  ASSERT_TRUE(waitUntilIdle());
  ASSERT_EQ(view_.status, "提示：验证成功");
  ASSERT_TRUE(view_.photoShown);
  ASSERT_TRUE(fs::exists(programDir() / "idcard_photo.bmp"));
  ASSERT_TRUE(fs::exists(programDir() / "fingerimg.bmp"));

  dialog().clearInfo();
  for (const auto& [field, text] : view_.fields) EXPECT_EQ(text, "") << static_cast<int>(field);
  EXPECT_EQ(view_.fields.size(), 8u);
  EXPECT_FALSE(view_.photoShown);
  EXPECT_FALSE(view_.fingerprintShown);
  EXPECT_FALSE(fs::exists(programDir() / "idcard_photo.bmp"));
  EXPECT_FALSE(fs::exists(programDir() / "fingerimg.bmp"));
  EXPECT_TRUE(fs::exists(programDir() / "idcard_photo.wlt"));
  EXPECT_EQ(view_.status, "提示：验证成功");

  dialog().OnOK();  // Enter: nothing
  EXPECT_FALSE(view_.closed);
  dialog().OnAbout();
  EXPECT_EQ(view_.linesStartingWith("box").back(), "box: IdvBench 1.0 版\n居民身份证指纹核验工作站 | 关于 IdvBench | information | owned");
  dialog().OnCancel();
  EXPECT_TRUE(view_.closed);
}

// ---- verification -------------------------------------------------------------------

TEST_F(Workflows, VerificationOfTheCardHolder) {
  REQUIRE_FINGER_IMAGES();
  startWithCard();
  startFingerModuleWith({{0, 2}});
  dialog().OnVerify();
  EXPECT_THAT(view_.linesStartingWith("enabled"),
              ElementsAre("enabled 1016: no", "enabled 1018: no", "enabled 3: no", "enabled 4: no", "enabled 4: yes"));
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_THAT(view_.course(), ElementsAre("caption 4: 暂停验证", "status: 提示：请放入身份证", "status: 提示：请录入指纹",
                                          "status: 提示：验证成功", "caption 4: 身份验证"));
  EXPECT_EQ(view_.fields[ControlId::Name], "张三");
  EXPECT_EQ(view_.fields[ControlId::Sex], "男");
  EXPECT_EQ(view_.fields[ControlId::Nation], "汉族");
  EXPECT_EQ(view_.fields[ControlId::Validity], "20200101-20400101");
  EXPECT_EQ(view_.fields[ControlId::IdNumber], "11010819900307001X");
  EXPECT_TRUE(view_.photoShown);
  EXPECT_TRUE(view_.fingerprintShown);
  EXPECT_FALSE(view_.anyDisabled());
}

TEST_F(Workflows, AnotherFingerIsRejected) {
  REQUIRE_FINGER_IMAGES();
  startWithCard();
  startFingerModuleWith({{1, 1}});
  dialog().OnVerify();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_THAT(view_.course(),
              ElementsAre("caption 4: 暂停验证", "status: 提示：请放入身份证", "status: 提示：请录入指纹",
                          "box: 验证失败 | (default) | stop | no owner", "status: 提示：验证失败", "caption 4: 身份验证"));
}

TEST_F(Workflows, TheSecondCardTemplateIsTriedWhenTheFirstFails) {
  REQUIRE_FINGER_IMAGES();
  startWithCard({{1, 1}, {0, 1}});
  startFingerModuleWith({{0, 2}});
  dialog().OnVerify();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(view_.status, "提示：验证成功");
}

TEST_F(Workflows, CardsWithOneOrNoTemplate) {
  REQUIRE_FINGER_IMAGES();
  startWithCard({{0, 1}});  // 512 bytes
  startFingerModuleWith({{0, 2}});
  dialog().OnVerify();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(view_.status, "提示：验证成功");

  // A card without templates leaves none of the earlier card's behind.
  ASSERT_EQ(reader().place(makeCardWithBlock("none.card", {})), "ok");
  dialog().OnVerify();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(view_.status, "提示：验证失败");
  EXPECT_EQ(view_.fields[ControlId::Name], "张三");  // the card itself was read
}

TEST_F(Workflows, AFailingFingerprintModuleFailsTheVerification) {
  REQUIRE_FINGER_IMAGES();
  startWithCard();
  auto& module = startFingerModule({"--fault", "bad-status@start-image:*"});
  (void)module;
  dialog().OnVerify();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(view_.linesStartingWith("box").back(), "box: 验证失败 | (default) | stop | no owner");
  EXPECT_EQ(view_.status, "提示：验证失败");
}

TEST_F(Workflows, WithoutAFingerprintDeviceComparisonAndVerificationFail) {
  REQUIRE_FINGER_IMAGES();
  writeConfiguration("[FingerConfig]\nFingerType=7\n");
  startWithCard();
  dialog().OnVerify();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(view_.status, "提示：验证失败");
  dialog().OnCompare();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(view_.linesStartingWith("box").back(), "box: 比对失败 | (default) | stop | no owner");
  EXPECT_EQ(view_.status, "提示：比对失败");
}

TEST_F(Workflows, TheStandardDeviceVerifiesThroughTheStandardPair) {
  REQUIRE_FINGER_IMAGES();
  writeConfiguration("[FingerConfig]\nFingerType=1\n");
  startWithCard();
  // One raw image per look: the finger lies down once and is lifted.
  startFingerModuleWith({{0, 2}}, "present:1 lifted");
  dialog().OnVerify();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(view_.status, "提示：验证成功");
  EXPECT_EQ(fs::file_size(programDir() / "fingerimg.bmp"), 93238u);
}

// ---- comparison -----------------------------------------------------------------------

TEST_F(Workflows, ComparisonOfTwoLiveFingers) {
  REQUIRE_FINGER_IMAGES();
  startReader();
  startDialog();
  view_.events.clear();
  // Each live template takes two images: the template's and the one shown.
  startFingerModuleWith({{0, 1}, {0, 1}, {0, 2}, {0, 2}});
  dialog().OnCompare();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_THAT(view_.course(), ElementsAre("caption 3: 暂停比对", "status: 提示：请录入指纹", "status: 提示：请再次录入指纹",
                                          "status: 提示：比对成功", "caption 3: 指纹比对"));
  EXPECT_EQ(view_.linesStartingWith("fingerprint: shown").size(), 2u);

  startFingerModuleWith({{0, 1}, {0, 1}, {1, 1}, {1, 1}});
  view_.events.clear();
  dialog().OnCompare();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_THAT(view_.course(),
              ElementsAre("caption 3: 暂停比对", "status: 提示：请录入指纹", "status: 提示：请再次录入指纹",
                          "box: 比对失败 | (default) | stop | no owner", "status: 提示：比对失败", "caption 3: 指纹比对"));
}

TEST_F(Workflows, NoWorkflowStartsWithoutAnAnsweringReader) {
  auto& reader = startReader();
  auto& dialog = startDialog();
  view_.events.clear();
  reader.failNext(1);  // the serial number query that checks the reader
  dialog.OnCompare();
  view_.runFor(20);
  EXPECT_THAT(view_.course(), ElementsAre("box: 身份证阅读器机具未连接 | IdvBench | stop | owned"));
  EXPECT_FALSE(dialog.workflowRunning());
  EXPECT_FALSE(view_.anyDisabled());
}

// ---- collection -----------------------------------------------------------------------

TEST_F(Workflows, CollectionRereadsTheCardUntilTheReaderIsUnplugged) {
  startWithCard({});
  dialog().OnCollect();
  ASSERT_TRUE(view_.runUntil([&] { return reader().counter("reads") >= 3; }));
  EXPECT_GE(view_.linesStartingWith("field 1000: 张三").size(), 2u);  // each read shows the card again
  EXPECT_TRUE(dialog().workflowRunning());

  reader().unplug();
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(view_.linesStartingWith("box").size(), 1u);
  const auto course = view_.course();
  ASSERT_GE(course.size(), 4u);
  EXPECT_EQ(course[course.size() - 3], "box: 身份证阅读器机具掉线 | (default) | stop | no owner");
  EXPECT_EQ(course[course.size() - 2], "status: 提示：身份证阅读器机具掉线");
  EXPECT_EQ(course.back(), "caption 1018: 信息采集");
  EXPECT_FALSE(view_.anyDisabled());
}

TEST_F(Workflows, ReaderFaultsKeepTheCollectionPolling) {
  startWithCard({});
  reader().remove();
  dialog().OnCollect();
  // Once a pass has opened the port, the reader counts as online.
  const long opens = reader().counter("opens");
  ASSERT_TRUE(view_.runUntil([&] { return reader().counter("opens") >= opens + 1; }));
  reader().failNext(3);  // requests that fail for another reason than a lost reader
  ASSERT_TRUE(view_.runUntil([&] { return reader().counter("opens") >= opens + 4; }));
  EXPECT_TRUE(dialog().workflowRunning());
  EXPECT_TRUE(view_.linesStartingWith("box").empty());
  EXPECT_TRUE(view_.linesStartingWith("field 1000: 张三").empty());
  dialog().OnCollect();  // pause
  EXPECT_FALSE(dialog().workflowRunning());
}

}  // namespace
}  // namespace fx60::station
