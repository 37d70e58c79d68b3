// Card reading and decoding: the decoder over the text and photo stand-ins, and
// one read attempt against the virtual card reader.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/text_encoding.h"
#include "station/card_reading.h"
#include "station/id_card_decoder.h"
#include "tests/station/presenter_fixture.h"

namespace fx60::station {
namespace {

using namespace fx60::station::testing;

std::string utf8(const char* gbk) { return platform::gbkToUtf8(gbk); }

// The decoder's tests make the card blocks in the process with the card codec
// (iconv, libjpeg), which the Windows build lacks; the reads below cover the
// decoder there.
#ifndef _WIN32
using fx60::idcard::Field;

class CardDecoder : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    linkLibraries({"UniToGBK.dll", "WltRS.dll"});
  }

  // The text block of the sample card with one field changed.
  static std::vector<uint8_t> textBlockWith(Field field, const std::string& value) {
    auto card = fx60::sim::testing::sampleCard();
    card.field(field) = value;
    std::string error;
    const auto blocks = fx60::idcard::cardBlocks(card, &error);
    EXPECT_TRUE(blocks.has_value()) << error;
    return blocks ? blocks->text : std::vector<uint8_t>(kCardTextBytes);
  }

  IdCardInfo decode(const std::vector<uint8_t>& text, int expected = kDecodeDone) {
    CIdCardDecoder decoder(programDir());
    IdCardInfo info;
    EXPECT_EQ(decoder.decodeText(text.data(), text.size(), info), expected);
    return info;
  }
};

TEST_F(CardDecoder, TheEightFieldsOfACard) {
  const IdCardInfo info = decode(textBlockWith(Field::Name, "张三"));
  EXPECT_EQ(utf8(info.name), "张三");
  EXPECT_EQ(utf8(info.sex), "男");
  EXPECT_EQ(utf8(info.nation), "汉族");
  EXPECT_EQ(utf8(info.birthDate), "19900307");
  EXPECT_EQ(utf8(info.address), "北京市海淀区中关村大街1号");
  EXPECT_EQ(utf8(info.idNumber), "11010819900307001X");
  EXPECT_EQ(utf8(info.authority), "北京市公安局海淀分局");
  EXPECT_EQ(utf8(info.validity), "20200101-20400101");
  EXPECT_EQ(std::strcmp(info.name, "\xD5\xC5\xC8\xFD"), 0);  // GBK bytes, as the card's text converts
}

TEST_F(CardDecoder, SexAndNationCodes) {
  EXPECT_EQ(utf8(decode(textBlockWith(Field::Sex, "1")).sex), "男");
  for (const char* code : {"2", "0", "9"}) EXPECT_EQ(utf8(decode(textBlockWith(Field::Sex, code)).sex), "女") << code;

  struct Nation {
    const char* code;
    const char* name;
  };
  for (const Nation& nation : {Nation{"01", "汉族"}, Nation{"98", "外国血统"}, Nation{"57", "柯尔族"},
                               Nation{"59", "穿青族"}, Nation{"58", ""}, Nation{"97", ""}, Nation{"汉", ""},
                               Nation{"7x", "彝族"}})
    EXPECT_EQ(utf8(decode(textBlockWith(Field::Nation, nation.code)).nation), nation.name) << nation.code;
}

TEST_F(CardDecoder, SpacesEndAFieldUnlessTheyLead) {
  EXPECT_EQ(utf8(decode(textBlockWith(Field::Name, "JOHN SMITH")).name), "JOHN");
  EXPECT_EQ(utf8(decode(textBlockWith(Field::Name, "李四")).name), "李四");  // no padding
  // A leading space keeps the whole text, padding and all.
  EXPECT_EQ(utf8(decode(textBlockWith(Field::Name, " 王五")).name), " 王五" + std::string(12, ' '));
  EXPECT_EQ(utf8(decode(textBlockWith(Field::ValidTo, "长期")).validity), "20200101-长期");
}

TEST_F(CardDecoder, TextThatCannotBeConvertedFailsTheWholeCard) {
  std::vector<uint8_t> text = textBlockWith(Field::Name, "张三");
  text[60] = 0x00;  // a lone surrogate in the address
  text[61] = 0xD8;
  decode(text, kDecodeFailed);

  CIdCardDecoder decoder(programDir());
  IdCardInfo info;
  EXPECT_EQ(decoder.decodeText(text.data(), 255, info), kDecodeBadArgument);
  EXPECT_EQ(decoder.decodeText(nullptr, 256, info), kDecodeBadArgument);

  // A converted text must fit its field with its terminator.
  const uint8_t name[] = {0x20, 0x5F, 0x09, 0x4E};  // 张三
  char field[5];
  EXPECT_TRUE(decoder.convertField(name, 4, field, 5));
  EXPECT_EQ(utf8(field), "张三");
  EXPECT_FALSE(decoder.convertField(name, 4, field, 4));
  EXPECT_FALSE(decoder.convertField(name, -1, field, 5));
  EXPECT_FALSE(decoder.convertField(name, 4, field, 0));
  std::vector<uint8_t> tooLong(300, 0x41);
  EXPECT_FALSE(decoder.convertField(tooLong.data(), 300, field, 5));  // larger than the converter's buffer
}

TEST_F(CardDecoder, ThePhotoBecomesABitmapBesideItsSourceFile) {
  const auto blocks = *fx60::idcard::cardBlocks(fx60::sim::testing::sampleCard(), nullptr);
  CIdCardDecoder decoder(programDir());
  const fs::path bitmap = programDir() / "idcard_photo.bmp";
  ASSERT_EQ(decoder.decodePhoto(blocks.photo.data(), blocks.photo.size(), bitmap), kDecodeDone);
  EXPECT_EQ(fs::file_size(bitmap), 38862u);
  EXPECT_EQ(fs::file_size(programDir() / "idcard_photo.wlt"), 1024u);

  EXPECT_EQ(photoSourcePath("/d/idcard_photo.bmp"), "/d/idcard_photo.wlt");
  EXPECT_EQ(photoSourcePath("/d/photo.BMP"), "/d/photo.BMP.wlt");
  EXPECT_EQ(photoSourcePath("/d.x/photo"), "/d.x/photo.wlt");

  EXPECT_EQ(decoder.decodePhoto(blocks.photo.data(), 1023, bitmap), kDecodeBadArgument);
  EXPECT_EQ(decoder.decodePhoto(blocks.photo.data(), 1024, ""), kDecodeBadArgument);
  EXPECT_EQ(decoder.decodePhoto(blocks.photo.data(), 1024, programDir() / "gone" / "p.bmp"), kDecodeFailed);

  // A block the photo library refuses leaves no bitmap.
  fs::remove(bitmap);
  const std::vector<uint8_t> zeros(1024, 0);
  EXPECT_EQ(decoder.decodePhoto(zeros.data(), zeros.size(), bitmap), kDecodeFailed);
  EXPECT_FALSE(fs::exists(bitmap));
}

TEST_F(CardDecoder, MissingLibrariesOrEntryPoints) {
  const auto blocks = *fx60::idcard::cardBlocks(fx60::sim::testing::sampleCard(), nullptr);
  fs::remove(programDir() / platform::sharedLibraryFileName("WltRS.dll"));
  {
    CIdCardDecoder decoder(programDir());
    IdCardInfo info;
    EXPECT_EQ(decoder.decodeText(blocks.text.data(), 256, info), kDecodeLibraryMissing);
    EXPECT_EQ(decoder.decodePhoto(blocks.photo.data(), 1024, programDir() / "p.bmp"), kDecodeLibraryMissing);
  }
  // A library of the right name without the entry point.
  placeStationLibrary("UniToGBK.dll", programDir(), "WltRS.dll");
  CIdCardDecoder decoder(programDir());
  IdCardInfo info;
  EXPECT_EQ(decoder.decodeText(blocks.text.data(), 256, info), kDecodeLibraryMissing);
  EXPECT_EQ(decoder.nationName(98), platform::utf8ToGbk("外国血统"));
  EXPECT_EQ(decoder.nationName(58), "");
}

#endif  // _WIN32

// ---- one read attempt --------------------------------------------------------------

class CardReading : public PresenterTest {
 protected:
  void SetUp() override {
    PresenterTest::SetUp();
    library_ = CardReaderLibrary::load(settings_.cardReaderLibrary);
    ASSERT_NE(library_, nullptr);
  }

  std::optional<IdCardInfo> read(bool& online) {
    const CardReadPlace place{library_->api(), fx60::sim::testing::kReaderPort, programDir(),
                              programDir() / "idcard_photo.bmp"};
    return readCard(place, fingerprints_, online);
  }

  std::unique_ptr<CardReaderLibrary> library_;
  CardFingerprints fingerprints_;
};

TEST_F(CardReading, AReadKeepsTheCardsTemplatesAndClosesThePort) {
  const auto block = fx60::sim::testing::patternBytes(1024);
  auto& reader = startReader({"--card", makeCardWithBlock("full.card", block).string()});
  bool online = false;
  const auto info = read(online);
  ASSERT_TRUE(info.has_value());
  EXPECT_TRUE(online);
  EXPECT_EQ(utf8(info->name), "张三");
  EXPECT_EQ(info->photoPath, programDir() / "idcard_photo.bmp");
  EXPECT_TRUE(fs::exists(info->photoPath));
  EXPECT_EQ(fingerprints_.length, 1024u);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), fingerprints_.data.begin()));
  EXPECT_TRUE(noPortOpen(reader));

  // One template: the second half is zero. None: the whole store is.
  ASSERT_EQ(reader.place(makeCardWithBlock("half.card", fx60::sim::testing::patternBytes(512))), "ok");
  ASSERT_TRUE(read(online).has_value());
  EXPECT_EQ(fingerprints_.length, 512u);
  EXPECT_EQ(fingerprints_.data[511], block[511]);
  EXPECT_TRUE(std::all_of(fingerprints_.data.begin() + 512, fingerprints_.data.end(), [](uint8_t b) { return b == 0; }));
  ASSERT_EQ(reader.place(makeCardWithBlock("none.card", {})), "ok");
  ASSERT_TRUE(read(online).has_value());
  EXPECT_EQ(fingerprints_.length, 0u);
  EXPECT_TRUE(std::all_of(fingerprints_.data.begin(), fingerprints_.data.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(CardReading, TheOnlineFlagFollowsTheReader) {
  auto& reader = startReader({"--card", makeCardWithBlock("full.card", fx60::sim::testing::patternBytes(1024)).string()});
  bool online = false;
  ASSERT_TRUE(read(online).has_value());

  // No card, or a card that cannot be read: the reader is there.
  reader.remove();
  EXPECT_FALSE(read(online).has_value());
  EXPECT_TRUE(online);
  EXPECT_EQ(fingerprints_.length, 1024u);  // a failed read keeps the last card's templates
  std::ofstream(programDir() / "damaged.card") << "IDCARD 1\nname: x\n";
  ASSERT_EQ(reader.place(programDir() / "damaged.card").rfind("ok unreadable", 0), 0u);
  EXPECT_FALSE(read(online).has_value());
  EXPECT_TRUE(online);

  // An open that fails for another reason leaves the flag as it was.
  reader.failNext(1);
  EXPECT_FALSE(read(online).has_value());
  EXPECT_TRUE(online);

  // An unreachable reader clears it, and its return sets it again.
  reader.unplug();
  EXPECT_FALSE(read(online).has_value());
  EXPECT_FALSE(online);
  reader.failNext(1);
  reader.plug();
  EXPECT_FALSE(read(online).has_value());
  EXPECT_FALSE(online);
  EXPECT_FALSE(read(online).has_value());
  EXPECT_TRUE(online);
  EXPECT_TRUE(noPortOpen(reader));
}

}  // namespace
}  // namespace fx60::station
