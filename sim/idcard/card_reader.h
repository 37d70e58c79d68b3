// The virtual card reader: answers the card-reader library's requests from the
// card lying on it, and takes live commands (place, remove, unplug, plug,
// fail-next, read-delay, status). No sockets here; CableServer serves it.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "sim/idcard/card_file.h"
#include "sim/served_device.h"

namespace fx60::idcard {

struct ReaderConfig {
  std::set<int> ports{1001};  // the ports the reader answers on
  std::string serial = "IDSIM-0001-20240601-0000000001";
  int readDelayMs = 0;  // how long reading a card's blocks takes
  bool plugged = true;
};

class CardReader final : public sim::ServedDevice {
 public:
  explicit CardReader(ReaderConfig config) : config_(std::move(config)), plugged_(config_.plugged) {}

  bool plugged() const override;
  int openLink() override;
  void closeLink(int link) override;
  sim::Reply handle(int link, std::span<const uint8_t> request, int64_t nowMs) override;
  std::string control(const std::string& line, int64_t nowMs, bool& dropLinks) override;

  // Puts the card of this file on the reader. A file that cannot be read is
  // refused; a damaged one lies there as an unreadable card. The answer line.
  std::string placeCard(const std::string& path);
  void removeCard();

  void setLogger(std::function<void(const std::string&)> logger);

 private:
  struct PlacedCard {
    std::string name;                 // the file name
    std::optional<CardBlocks> blocks;  // none: unreadable
    std::string problem;
  };

  sim::Reply answer(int link, std::span<const uint8_t> request);
  std::string status() const;
  void log(const std::string& line) const;

  mutable std::mutex mutex_;
  ReaderConfig config_;
  bool plugged_;
  std::optional<PlacedCard> card_;
  std::map<int, int> links_;  // link -> bound port (0 until opened)
  int nextLink_ = 1;
  int failNext_ = 0;
  long opens_ = 0, reads_ = 0;
  std::function<void(const std::string&)> logger_;
};

}  // namespace fx60::idcard
