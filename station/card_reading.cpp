#include "station/card_reading.h"

#include <algorithm>

#include "station/id_card_decoder.h"

namespace fx60::station {

namespace {

constexpr int kSelectTries = 3;

// Everything after a successful open; the caller closes the port.
std::optional<IdCardInfo> readOpenCard(const CardReadPlace& place, CIdCardDecoder& decoder,
                                       CardFingerprints& fingerprints, const std::stop_token& stop) {
  const CardReaderApi& reader = place.reader;
  unsigned char scratch[256] = {};
  reader.startFindIdCard(place.port, scratch, 0);  // the read below decides whether a card is there
  for (int attempt = 0; attempt < kSelectTries && !stop.stop_requested(); ++attempt) {
    std::fill(std::begin(scratch), std::end(scratch), 0);
    if (reader.selectIdCard(place.port, scratch, 0) == kReaderDone) break;
  }
  if (stop.stop_requested()) return std::nullopt;

  uint8_t text[kCardTextBytes] = {};
  uint8_t photo[kCardPhotoBytes] = {};
  uint8_t finger[kCardFingerBytes] = {};
  unsigned int textLength = 0, photoLength = 0, fingerLength = 0;
  if (reader.readBaseFpMsg(place.port, text, &textLength, photo, &photoLength, finger, &fingerLength, 0) !=
      kReaderDone)
    return std::nullopt;
  if (stop.stop_requested()) return std::nullopt;

  IdCardInfo info;
  if (decoder.decodeText(text, textLength, info) != kDecodeDone) return std::nullopt;
  if (decoder.decodePhoto(photo, photoLength, place.photoPath) != kDecodeDone) return std::nullopt;
  if (fingerLength <= kCardFingerBytes) {
    fingerprints.data.fill(0);
    std::copy_n(finger, fingerLength, fingerprints.data.begin());
    fingerprints.length = fingerLength;
  }
  info.photoPath = place.photoPath;
  return info;
}

}  // namespace

std::optional<IdCardInfo> readCard(const CardReadPlace& place, CardFingerprints& fingerprints, bool& online,
                                   std::stop_token stop) {
  CIdCardDecoder decoder(place.programDirectory);
  std::optional<IdCardInfo> info;
  const int opened = place.reader.openPort(place.port);
  if (opened == kReaderDone) {
    online = true;
    info = readOpenCard(place, decoder, fingerprints, stop);
  } else if (opened == kReaderUnreachable) {
    online = false;
  }
  place.reader.closePort(place.port);
  return info;
}

}  // namespace fx60::station
