// Decodes the blocks an identity card delivers: its UCS-2 text into GBK fields
// (through the outside "UniToGBK.dll") and its compressed photo into a bitmap file
// (through the outside "WltRS.dll"), both loaded from the program directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dynamic_library.h"
#include "station/id_card_info.h"

namespace fx60::station {

// Results of the decode operations.
enum DecodeResult : int { kDecodeDone = 0, kDecodeBadArgument = 1, kDecodeLibraryMissing = 2, kDecodeFailed = 3 };

inline constexpr size_t kCardTextBytes = 256;
inline constexpr size_t kCardPhotoBytes = 1024;

class CIdCardDecoder {
 public:
  // Loads both libraries at once; a failure here is retried by every decode.
  explicit CIdCardDecoder(std::filesystem::path programDirectory);
  ~CIdCardDecoder();
  CIdCardDecoder(const CIdCardDecoder&) = delete;
  CIdCardDecoder& operator=(const CIdCardDecoder&) = delete;

  // The 256-byte text block into the eight text fields of `info`.
  int decodeText(const uint8_t* text, size_t length, IdCardInfo& info);

  // Writes the 1024-byte photo block next to `bitmapPath` with the extension
  // ".wlt" and has the photo library turn it into `bitmapPath`.
  int decodePhoto(const uint8_t* photo, size_t length, const std::filesystem::path& bitmapPath);

  // Converts `count` UCS-2 bytes into zero-terminated GBK text in `destination`;
  // the text is cut at its first space unless that space comes first.
  bool convertField(const uint8_t* source, int count, char* destination, int destinationSize);

  // The GBK name of a nation code; empty for a code not in the table.
  const std::string& nationName(int code) const;

  bool loadDecoderLibraries();
  void freeDecoderLibraries();

 private:
  using UnicodeToGbkFunction = int(const unsigned char*, unsigned char*, int);
  using GetBmpFunction = int(const char*, int);

  std::filesystem::path programDirectory_;
  std::filesystem::path textLibraryPath_;
  std::filesystem::path photoLibraryPath_;
  std::unique_ptr<platform::DynamicLibrary> textLibrary_;
  std::unique_ptr<platform::DynamicLibrary> photoLibrary_;
  UnicodeToGbkFunction* unicodeToGbk_ = nullptr;
  GetBmpFunction* getBmp_ = nullptr;
  std::mutex lock_;
  std::map<int, std::string> nationTable_;  // GBK names
  std::string male_;
  std::string female_;
};

// The ".wlt" file that goes with a photo bitmap path: a final ".bmp" is replaced,
// anything else gets ".wlt" appended.
std::filesystem::path photoSourcePath(const std::filesystem::path& bitmapPath);

}  // namespace fx60::station
