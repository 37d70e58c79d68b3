#include "station/id_card_decoder.h"

#include <cstdio>
#include <cstring>

#include "platform/text_encoding.h"
#include "station/nation_table.h"

namespace fx60::station {

namespace fs = std::filesystem;

namespace {

// UCS-2 byte offsets and lengths of the text block's fields.
struct TextField {
  size_t offset;
  int bytes;
};
constexpr TextField kName{0, 30};
constexpr TextField kSex{30, 2};
constexpr TextField kNation{32, 4};
constexpr TextField kBirthDate{36, 16};
constexpr TextField kAddress{52, 70};
constexpr TextField kIdNumber{122, 36};
constexpr TextField kAuthority{158, 30};
constexpr TextField kValidityStart{188, 16};
constexpr TextField kValidityEnd{204, 16};

// The outside converter works on 256-byte buffers; the source keeps two zero
// bytes at its end so that it is always terminated.
constexpr int kConversionBuffer = 256;
constexpr int kLongestSource = kConversionBuffer - 2;

std::string toGbk(std::string_view utf8) { return platform::utf8ToGbk(utf8).value_or(std::string()); }

// Leading decimal digits after optional blanks and a sign; 0 without digits.
int leadingInteger(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int value = 0;
  for (; *text >= '0' && *text <= '9' && value < 100000; ++text) value = value * 10 + (*text - '0');
  return negative ? -value : value;
}

template <size_t N>
bool convertInto(CIdCardDecoder& decoder, const uint8_t* text, TextField field, char (&destination)[N]) {
  return decoder.convertField(text + field.offset, field.bytes, destination, static_cast<int>(N));
}

}  // namespace

fs::path photoSourcePath(const fs::path& bitmapPath) {
  std::string path = bitmapPath.string();
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".bmp") == 0) path.erase(path.size() - 4);
  return path + ".wlt";
}

CIdCardDecoder::CIdCardDecoder(fs::path programDirectory)
    : programDirectory_(std::move(programDirectory)),
      textLibraryPath_(programDirectory_ / platform::sharedLibraryFileName("UniToGBK.dll")),
      photoLibraryPath_(programDirectory_ / platform::sharedLibraryFileName("WltRS.dll")),
      male_(toGbk("男")),
      female_(toGbk("女")) {
  for (const NationEntry& entry : kNationTable) nationTable_.emplace(entry.code, toGbk(entry.name));
  loadDecoderLibraries();
}

CIdCardDecoder::~CIdCardDecoder() { freeDecoderLibraries(); }

bool CIdCardDecoder::loadDecoderLibraries() {
  if (!textLibrary_) {
    textLibrary_ = platform::DynamicLibrary::load(textLibraryPath_.string());
    if (!textLibrary_) return false;
    if (!textLibrary_->bind("UnicodeToGBK", unicodeToGbk_)) {
      freeDecoderLibraries();
      return false;
    }
  }
  if (!photoLibrary_) {
    photoLibrary_ = platform::DynamicLibrary::load(photoLibraryPath_.string());
    if (!photoLibrary_) return false;
    if (!photoLibrary_->bind("GetBmp", getBmp_)) {
      freeDecoderLibraries();
      return false;
    }
  }
  return true;
}

void CIdCardDecoder::freeDecoderLibraries() {
  unicodeToGbk_ = nullptr;
  getBmp_ = nullptr;
  textLibrary_.reset();
  photoLibrary_.reset();
}

const std::string& CIdCardDecoder::nationName(int code) const {
  static const std::string none;
  const auto found = nationTable_.find(code);
  return found == nationTable_.end() ? none : found->second;
}

bool CIdCardDecoder::convertField(const uint8_t* source, int count, char* destination, int destinationSize) {
  if (source == nullptr || destination == nullptr || count < 0 || count > kLongestSource || destinationSize < 1 ||
      unicodeToGbk_ == nullptr)
    return false;
  unsigned char input[kConversionBuffer] = {};
  std::memcpy(input, source, static_cast<size_t>(count));
  unsigned char output[kConversionBuffer + 1] = {};  // the last byte stays zero
  if (unicodeToGbk_(input, output, kConversionBuffer) == 0) return false;

  size_t length = strnlen(reinterpret_cast<const char*>(output), kConversionBuffer);
  if (length == kConversionBuffer) return false;  // the converter left its text unterminated
  const void* space = std::memchr(output, ' ', length);
  if (space != nullptr && space != output) length = static_cast<size_t>(static_cast<const unsigned char*>(space) - output);
  if (length + 1 > static_cast<size_t>(destinationSize)) return false;
  std::memcpy(destination, output, length);
  destination[length] = '\0';
  return true;
}

int CIdCardDecoder::decodeText(const uint8_t* text, size_t length, IdCardInfo& info) {
  std::lock_guard hold(lock_);
  if (text == nullptr || length != kCardTextBytes) return kDecodeBadArgument;
  if (!loadDecoderLibraries()) return kDecodeLibraryMissing;

  if (!convertInto(*this, text, kName, info.name)) return kDecodeFailed;
  if (!convertInto(*this, text, kSex, info.sex)) return kDecodeFailed;
  const std::string& sex = std::strcmp(info.sex, "1") == 0 ? male_ : female_;
  std::snprintf(info.sex, sizeof info.sex, "%s", sex.c_str());
  if (!convertInto(*this, text, kNation, info.nation)) return kDecodeFailed;
  std::snprintf(info.nation, sizeof info.nation, "%s", nationName(leadingInteger(info.nation)).c_str());
  if (!convertInto(*this, text, kBirthDate, info.birthDate)) return kDecodeFailed;
  if (!convertInto(*this, text, kAddress, info.address)) return kDecodeFailed;
  if (!convertInto(*this, text, kIdNumber, info.idNumber)) return kDecodeFailed;
  if (!convertInto(*this, text, kAuthority, info.authority)) return kDecodeFailed;
  if (!convertInto(*this, text, kValidityStart, info.validity)) return kDecodeFailed;
  char validityEnd[kConversionBuffer] = {};
  if (!convertInto(*this, text, kValidityEnd, validityEnd)) return kDecodeFailed;

  // start + "-" + end must fit the field like every other converted text.
  const size_t start = std::strlen(info.validity);
  if (start + 1 + std::strlen(validityEnd) + 1 > sizeof info.validity) return kDecodeFailed;
  std::snprintf(info.validity + start, sizeof info.validity - start, "-%s", validityEnd);
  return kDecodeDone;
}

int CIdCardDecoder::decodePhoto(const uint8_t* photo, size_t length, const fs::path& bitmapPath) {
  std::lock_guard hold(lock_);
  if (photo == nullptr || length != kCardPhotoBytes || bitmapPath.empty()) return kDecodeBadArgument;
  if (!loadDecoderLibraries()) return kDecodeLibraryMissing;

  const fs::path wltPath = photoSourcePath(bitmapPath);
  std::FILE* file = std::fopen(wltPath.string().c_str(), "wb");
  if (file == nullptr) return kDecodeFailed;
  const bool written = std::fwrite(photo, 1, kCardPhotoBytes, file) == kCardPhotoBytes;
  if (std::fclose(file) != 0 || !written) return kDecodeFailed;
  return getBmp_(wltPath.string().c_str(), 1) == 1 ? kDecodeDone : kDecodeFailed;
}

}  // namespace fx60::station
