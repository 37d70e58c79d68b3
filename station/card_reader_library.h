// The outside card-reader library: its eleven entry points, bound by name.
#pragma once

#include <memory>
#include <string>

#include "platform/dynamic_library.h"

namespace fx60::station {

// Results of the card-reader calls that the station relies on.
inline constexpr int kReaderDone = 0x90;
inline constexpr int kReaderCardFound = 0x9F;
inline constexpr int kReaderUnreachable = 1;

// The Windows name of the library; it is loaded by bare name, in the system's
// search order (the program directory first).
inline constexpr const char* kCardReaderLibraryName = "sdtapi.dll";

struct CardReaderApi {
  int (*openPort)(int port) = nullptr;
  int (*closePort)(int port) = nullptr;
  int (*resetSam)(int port, int openFlag) = nullptr;
  int (*getSamIdToStr)(int port, char* serialText, int openFlag) = nullptr;
  int (*startFindIdCard)(int port, unsigned char* scratch256, int openFlag) = nullptr;
  int (*selectIdCard)(int port, unsigned char* scratch256, int openFlag) = nullptr;
  int (*readBaseMsgToFile)(int port, const char* textFile, const char* photoFile, int openFlag) = nullptr;
  int (*readBaseMsg)(int port, unsigned char* text, unsigned int* textLength, unsigned char* photo,
                     unsigned int* photoLength, int openFlag) = nullptr;
  int (*readNewAppMsg)(int port, unsigned char* appendix, unsigned int* appendixLength, int openFlag) = nullptr;
  int (*readBaseFpMsg)(int port, unsigned char* text, unsigned int* textLength, unsigned char* photo,
                       unsigned int* photoLength, unsigned char* fingerprint, unsigned int* fingerprintLength,
                       int openFlag) = nullptr;
  int (*readBaseFpMsgToFile)(int port, const char* textFile, const char* photoFile, const char* fingerprintFile,
                             int openFlag) = nullptr;
};

class CardReaderLibrary {
 public:
  // Loads the library (a Windows name is mapped to this system's file name) and
  // binds all eleven entry points; null when the library or any entry point is
  // missing.
  static std::unique_ptr<CardReaderLibrary> load(const std::string& windowsName);

  const CardReaderApi& api() const { return api_; }

 private:
  CardReaderLibrary(std::unique_ptr<platform::DynamicLibrary> library, const CardReaderApi& api)
      : library_(std::move(library)), api_(api) {}
  std::unique_ptr<platform::DynamicLibrary> library_;
  CardReaderApi api_;
};

// Asks the reader's security module for its serial number (the library opens
// and closes the port itself). The reader's result; `serial` receives the text
// on 0x90.
int querySamSerial(const CardReaderApi& reader, int port, std::string& serial);

}  // namespace fx60::station
