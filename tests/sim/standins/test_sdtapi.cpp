// The card-reader library as the station loads it (by bare name, through the
// run path), against idcard-sim started as a process.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>

#include "sim/idcard/reader_protocol.h"
#include "tests/sim/card_reader_process.h"
#include "tests/sim/standins/loaded_library.h"
#include "tests/sim/test_cards.h"

namespace {

using namespace fx60::sim::testing;
namespace idcard = fx60::idcard;

struct CardReaderLibrary {
  int (*openPort)(int);
  int (*closePort)(int);
  int (*resetSam)(int, int);
  int (*samIdToStr)(int, char*, int);
  int (*startFind)(int, unsigned char*, int);
  int (*selectCard)(int, unsigned char*, int);
  int (*readBaseToFile)(int, const char*, const char*, int);
  int (*readBase)(int, unsigned char*, unsigned int*, unsigned char*, unsigned int*, int);
  int (*readAppendix)(int, unsigned char*, unsigned int*, int);
  int (*readBaseFp)(int, unsigned char*, unsigned int*, unsigned char*, unsigned int*, unsigned char*,
                    unsigned int*, int);
  int (*readBaseFpToFile)(int, const char*, const char*, const char*, int);
};

// What one SDT_ReadBaseFPMsg delivered.
struct CardRead {
  int status = 0;
  std::array<unsigned char, 256> text{};
  std::array<unsigned char, 1024> photo{};
  std::array<unsigned char, 1024> fingerprints{};
  unsigned int textLength = 99, photoLength = 99, fingerprintLength = 99;
};

// A name for this test's files and sockets: the test's name without the slash of parameterised ones.
std::string testTag() {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::replace(name.begin(), name.end(), '/', '-');
  return std::to_string(::getpid()) + "-" + name;
}

std::vector<uint8_t> fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CardReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("sdtapi-" + testTag());
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(library.loaded()) << LoadedLibrary::lastError();
    // Bound in the station's order; each must be there.
    ASSERT_TRUE(library.bind("SDT_OpenPort", api.openPort));
    ASSERT_TRUE(library.bind("SDT_ClosePort", api.closePort));
    ASSERT_TRUE(library.bind("SDT_ResetSAM", api.resetSam));
    ASSERT_TRUE(library.bind("SDT_GetSAMIDToStr", api.samIdToStr));
    ASSERT_TRUE(library.bind("SDT_StartFindIDCard", api.startFind));
    ASSERT_TRUE(library.bind("SDT_SelectIDCard", api.selectCard));
    ASSERT_TRUE(library.bind("SDT_ReadBaseMsgToFile", api.readBaseToFile));
    ASSERT_TRUE(library.bind("SDT_ReadBaseMsg", api.readBase));
    ASSERT_TRUE(library.bind("SDT_ReadNewAppMsg", api.readAppendix));
    ASSERT_TRUE(library.bind("SDT_ReadBaseFPMsg", api.readBaseFp));
    ASSERT_TRUE(library.bind("SDT_ReadBaseFPMsgToFile", api.readBaseFpToFile));
  }

  void TearDown() override {
    if (api.closePort) api.closePort(kReaderPort);
    reader.stop();
    ::unsetenv("IDCARD_SIMULATOR");
    std::filesystem::remove_all(dir);
  }

  void startReader(std::vector<std::string> options = {}) {
    ASSERT_TRUE(reader.start(options));
    reader.connectLibrary();
  }

  std::filesystem::path card(const std::string& name, const idcard::VirtualCard& content) {
    return writeTestCard(dir, name, content);
  }

  // The station's read: open, find once, select, read, close.
  CardRead readCard() {
    CardRead read;
    std::array<unsigned char, 256> scratch{};
    read.status = api.openPort(kReaderPort);
    if (read.status == idcard::kDone) {
      api.startFind(kReaderPort, scratch.data(), 0);
      api.selectCard(kReaderPort, scratch.data(), 0);
      read.status = api.readBaseFp(kReaderPort, read.text.data(), &read.textLength, read.photo.data(),
                                   &read.photoLength, read.fingerprints.data(), &read.fingerprintLength, 0);
    }
    api.closePort(kReaderPort);
    return read;
  }

  std::filesystem::path dir;
  LoadedLibrary library{"libsdtapi.so"};
  CardReaderLibrary api{};
  CardReaderProcess reader{std::filesystem::temp_directory_path(), "idcard-" + testTag()};
};

TEST_F(CardReaderTest, OpensOnlyThePortTheReaderAnswersOnAndResetsItsModule) {
  startReader({"--port", "1003"});
  EXPECT_EQ(api.openPort(1001), idcard::kUnreachable);
  EXPECT_EQ(api.resetSam(1001, 0), idcard::kPortNotOpen);
  EXPECT_EQ(api.openPort(1003), idcard::kDone);
  EXPECT_EQ(api.resetSam(1003, 0), idcard::kDone);
  EXPECT_EQ(api.closePort(1003), idcard::kDone);
  EXPECT_EQ(api.closePort(1003), idcard::kPortNotOpen);
}

TEST_F(CardReaderTest, WithoutAReaderProcessOpenReportsUnreachable) {
  ::unsetenv("IDCARD_SIMULATOR");
  EXPECT_EQ(api.openPort(kReaderPort), idcard::kUnreachable);
  ::setenv("IDCARD_SIMULATOR", (dir / "nobody-listens").c_str(), 1);
  EXPECT_EQ(api.openPort(kReaderPort), idcard::kUnreachable);
}

TEST_F(CardReaderTest, SerialNumberIsZeroTerminatedTextAndTheLibraryOpensThePortItself) {
  startReader({"--serial", "SERIAL-TEST-0001"});
  char serial[60];
  std::fill(std::begin(serial), std::end(serial), 'x');
  EXPECT_EQ(api.samIdToStr(kReaderPort, serial, 1), idcard::kDone);
  EXPECT_STREQ(serial, "SERIAL-TEST-0001");
  EXPECT_EQ(api.samIdToStr(kReaderPort, serial, 0), idcard::kPortNotOpen);  // not opened by this process
  EXPECT_EQ(api.samIdToStr(kReaderPort, nullptr, 1), idcard::kBadArgument);
}

// A card with 0, 512 or 1024 bytes of fingerprint data delivers exactly those.
class FingerprintBlockSizes : public CardReaderTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(FingerprintBlockSizes, ReadDeliversTheCardsThreeBlocks) {
  const auto content = sampleCard(patternBytes(GetParam()));
  startReader({"--card", card("holder.card", content).string()});
  const CardRead read = readCard();
  ASSERT_EQ(read.status, idcard::kDone);
  EXPECT_EQ(read.textLength, 256u);
  EXPECT_EQ(read.photoLength, 1024u);
  ASSERT_EQ(read.fingerprintLength, GetParam());
  const auto blocks = idcard::cardBlocks(content, nullptr);
  EXPECT_TRUE(std::equal(blocks->text.begin(), blocks->text.end(), read.text.begin()));
  EXPECT_TRUE(std::equal(content.photoBlock.begin(), content.photoBlock.end(), read.photo.begin()));
  EXPECT_TRUE(std::equal(content.fingerprints.begin(), content.fingerprints.end(), read.fingerprints.begin()));
}

INSTANTIATE_TEST_SUITE_P(Card, FingerprintBlockSizes, ::testing::Values(0u, 512u, 1024u));

TEST_F(CardReaderTest, TextBlockHoldsEachFieldAtItsOffsetPaddedWithSpaces) {
  startReader({"--card", card("holder.card", sampleCard()).string()});
  const CardRead read = readCard();
  ASSERT_EQ(read.status, idcard::kDone);
  auto unit = [&](size_t offset) { return read.text[offset] | (read.text[offset + 1] << 8); };
  EXPECT_EQ(unit(0), 0x5F20);  // 张
  EXPECT_EQ(unit(2), 0x4E09);  // 三
  EXPECT_EQ(unit(4), 0x0020);  // the rest of the name's 30 bytes are spaces
  EXPECT_EQ(unit(28), 0x0020);
  EXPECT_EQ(unit(30), '1');
  EXPECT_EQ(unit(32), '0');
  EXPECT_EQ(unit(34), '1');
  EXPECT_EQ(unit(36), '1');     // date of birth 19900307
  EXPECT_EQ(unit(50), '7');
  EXPECT_EQ(unit(122), '1');    // ID number
  EXPECT_EQ(unit(156), 'X');
  EXPECT_EQ(unit(188), '2');    // validity start, then end
  EXPECT_EQ(unit(204), '2');
  EXPECT_EQ(unit(254), 0x0020);  // the unused tail
}

TEST_F(CardReaderTest, WithoutACardFindAndReadFailAndAPlacedCardIsFound) {
  startReader();
  std::array<unsigned char, 256> scratch{};
  ASSERT_EQ(api.openPort(kReaderPort), idcard::kDone);
  EXPECT_EQ(api.startFind(kReaderPort, scratch.data(), 0), idcard::kNoCard);
  EXPECT_EQ(api.selectCard(kReaderPort, scratch.data(), 0), idcard::kNoCard);
  EXPECT_EQ(readCard().status, idcard::kNoCard);

  EXPECT_EQ(reader.place(card("holder.card", sampleCard())), "ok");
  ASSERT_EQ(api.openPort(kReaderPort), idcard::kDone);
  EXPECT_EQ(api.startFind(kReaderPort, scratch.data(), 0), idcard::kCardFound);
  EXPECT_EQ(api.selectCard(kReaderPort, scratch.data(), 0), idcard::kDone);
  EXPECT_EQ(reader.remove(), "ok");
  EXPECT_EQ(api.startFind(kReaderPort, scratch.data(), 0), idcard::kNoCard);
}

TEST_F(CardReaderTest, DamagedCardFileLiesThereUnreadable) {
  const auto whole = idcard::serializeCard(sampleCard(patternBytes(1024)));
  const std::vector<uint8_t> bytes(whole.begin(), whole.end() - 100);
  const auto path = dir / "cut.card";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  startReader();
  EXPECT_TRUE(reader.place(path).starts_with("ok unreadable: cut.card: the card file is cut short")) << reader.place(path);
  EXPECT_EQ(readCard().status, idcard::kCardUnreadable);
  EXPECT_TRUE(reader.place(dir / "missing.card").starts_with("error"));
}

TEST_F(CardReaderTest, FailNextFailsThatManyRequestsThenTheReaderAnswersAgain) {
  startReader({"--card", card("holder.card", sampleCard()).string()});
  EXPECT_EQ(reader.failNext(2), "ok");
  EXPECT_EQ(api.openPort(kReaderPort), idcard::kReaderFault);  // not 1: the reader is there
  EXPECT_EQ(api.openPort(kReaderPort), idcard::kReaderFault);
  EXPECT_EQ(readCard().status, idcard::kDone);
}

TEST_F(CardReaderTest, UnpluggedReaderIsUnreachableAndAnOpenPortIsLost) {
  startReader({"--card", card("holder.card", sampleCard()).string()});
  ASSERT_EQ(api.openPort(kReaderPort), idcard::kDone);
  EXPECT_EQ(reader.unplug(), "ok");
  EXPECT_EQ(api.resetSam(kReaderPort, 0), idcard::kReaderLost);
  EXPECT_EQ(api.resetSam(kReaderPort, 0), idcard::kPortNotOpen);  // the lost port is closed
  EXPECT_EQ(api.openPort(kReaderPort), idcard::kUnreachable);
  EXPECT_EQ(reader.plug(), "ok");
  EXPECT_EQ(readCard().status, idcard::kDone);
}

TEST_F(CardReaderTest, ReaderProcessGoneDuringAReadEndsTheCallAtOnce) {
  startReader({"--card", card("holder.card", sampleCard()).string(), "--read-delay", "1500"});
  auto read = std::async(std::launch::async, [&] { return readCard().status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto killed = std::chrono::steady_clock::now();
  ::kill(reader.pid(), SIGKILL);
  ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(read.get(), idcard::kReaderLost);
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::milliseconds(1000));
}

TEST_F(CardReaderTest, SilentReaderTimesOut) {
  startReader({"--card", card("holder.card", sampleCard()).string(), "--read-delay", "10000"});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(readCard().status, idcard::kReaderLost);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, std::chrono::milliseconds(idcard::kAnswerWaitMs - 100));
  EXPECT_LT(took, std::chrono::milliseconds(idcard::kAnswerWaitMs + 2000));
}

TEST_F(CardReaderTest, FileVariantsWriteTheBlocksOrNothing) {
  const auto content = sampleCard(patternBytes(512));
  startReader({"--card", card("holder.card", content).string()});
  const auto text = dir / "text.bin", photo = dir / "photo.wlt", finger = dir / "finger.bin";
  ASSERT_EQ(api.readBaseFpToFile(kReaderPort, text.c_str(), photo.c_str(), finger.c_str(), 1), idcard::kDone);
  EXPECT_EQ(fileBytes(text), idcard::cardBlocks(content, nullptr)->text);
  EXPECT_EQ(fileBytes(photo), content.photoBlock);
  EXPECT_EQ(fileBytes(finger), content.fingerprints);

  std::filesystem::remove(text);
  const auto unwritable = dir / "no-such-folder" / "finger.bin";
  EXPECT_EQ(api.readBaseFpToFile(kReaderPort, text.c_str(), photo.c_str(), unwritable.c_str(), 1),
            idcard::kFileNotWritten);
  EXPECT_FALSE(std::filesystem::exists(text));
  EXPECT_EQ(api.readBaseToFile(kReaderPort, text.c_str(), nullptr, 1), idcard::kBadArgument);
}

TEST_F(CardReaderTest, AppendixAndBaseMessageWithoutFingerprints) {
  auto content = sampleCard(patternBytes(1024));
  content.appendix = "迁往上海市";
  startReader({"--card", card("holder.card", content).string()});
  std::array<unsigned char, 70> appendix{};
  unsigned int length = 0;
  ASSERT_EQ(api.readAppendix(kReaderPort, appendix.data(), &length, 1), idcard::kDone);
  ASSERT_EQ(length, 70u);
  EXPECT_EQ(appendix[0] | (appendix[1] << 8), 0x8FC1);  // 迁
  std::array<unsigned char, 256> text{};
  std::array<unsigned char, 1024> photo{};
  unsigned int textLength = 0, photoLength = 0;
  EXPECT_EQ(api.readBase(kReaderPort, text.data(), &textLength, photo.data(), &photoLength, 1), idcard::kDone);
  EXPECT_EQ(photoLength, 1024u);
  EXPECT_EQ(api.readBase(kReaderPort, nullptr, &textLength, photo.data(), &photoLength, 1), idcard::kBadArgument);
}

}  // namespace
