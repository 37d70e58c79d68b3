// What the station shows of one identity card.
#pragma once

#include <filesystem>

namespace fx60::station {

// Text fields are zero-terminated GBK text, as the card's text converts to.
struct IdCardInfo {
  char name[32] = {};
  char sex[4] = {};
  char nation[12] = {};
  char birthDate[20] = {};
  char address[72] = {};
  char idNumber[40] = {};
  char authority[32] = {};
  char validity[36] = {};  // start, "-", end
  std::filesystem::path photoPath;  // the bitmap to show; empty shows none
};

}  // namespace fx60::station
