#include "station/card_reader_library.h"

#include <cstring>

namespace fx60::station {

std::unique_ptr<CardReaderLibrary> CardReaderLibrary::load(const std::string& windowsName) {
  auto library = platform::DynamicLibrary::load(platform::sharedLibraryFileName(windowsName));
  if (!library) return nullptr;
  CardReaderApi api;
  const bool bound = library->bind("SDT_OpenPort", api.openPort) && library->bind("SDT_ClosePort", api.closePort) &&
                     library->bind("SDT_ResetSAM", api.resetSam) &&
                     library->bind("SDT_GetSAMIDToStr", api.getSamIdToStr) &&
                     library->bind("SDT_StartFindIDCard", api.startFindIdCard) &&
                     library->bind("SDT_SelectIDCard", api.selectIdCard) &&
                     library->bind("SDT_ReadBaseMsgToFile", api.readBaseMsgToFile) &&
                     library->bind("SDT_ReadBaseMsg", api.readBaseMsg) &&
                     library->bind("SDT_ReadNewAppMsg", api.readNewAppMsg) &&
                     library->bind("SDT_ReadBaseFPMsg", api.readBaseFpMsg) &&
                     library->bind("SDT_ReadBaseFPMsgToFile", api.readBaseFpMsgToFile);
  if (!bound) return nullptr;
  return std::unique_ptr<CardReaderLibrary>(new CardReaderLibrary(std::move(library), api));
}

int querySamSerial(const CardReaderApi& reader, int port, std::string& serial) {
  // The library is handed 60 bytes; the last stays zero so that the text ends
  // inside the buffer whatever the library writes.
  char text[61] = {};
  const int result = reader.getSamIdToStr(port, text, 1);
  if (result == kReaderDone) serial.assign(text, strnlen(text, 60));
  return result;
}

}  // namespace fx60::station
