// One attempt to read the identity card lying on the reader.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

#include "station/card_reader_library.h"
#include "station/id_card_info.h"

namespace fx60::station {

inline constexpr size_t kCardFingerBytes = 1024;

// The fingerprint templates of the last card read: two of 512 bytes, the first
// at offset 0.
struct CardFingerprints {
  std::array<uint8_t, kCardFingerBytes> data{};
  uint32_t length = 0;  // bytes the last successful read delivered
};

struct CardReadPlace {
  const CardReaderApi& reader;
  int port;
  std::filesystem::path programDirectory;  // where the decoder libraries are
  std::filesystem::path photoPath;         // the bitmap the card's photo becomes
};

// Opens the port, finds, selects and reads the card, decodes its text and photo
// and keeps its fingerprint templates in `fingerprints`. `online` becomes true
// when the port opens and false when the reader cannot be reached; it is left as
// it was on any other failure. A stop request ends the attempt early as a failed
// one. The port is closed in every case. The card's information on success.
std::optional<IdCardInfo> readCard(const CardReadPlace& place, CardFingerprints& fingerprints, bool& online,
                                   std::stop_token stop = {});

}  // namespace fx60::station
