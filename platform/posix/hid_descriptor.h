// Reading what the kernel tells about a HID device: its ids from the uevent text
// and its report lengths from the report descriptor.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/hid_device.h"

namespace fx60::platform::os {

struct ReportDescriptorSummary {
  HidReportLengths lengths;   // longest report of each kind, report id byte included
  bool usesReportIds = false;  // reports on the wire start with their id
};

// Walks the descriptor's items and sums the main items' bits per report id and
// kind. Empty when the descriptor is truncated or malformed.
std::optional<ReportDescriptorSummary> parseReportDescriptor(std::span<const uint8_t> descriptor);

struct HidIds {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

// The ids of a "HID_ID=bus:vendor:product" line (hexadecimal fields).
std::optional<HidIds> parseHidIdFromUevent(std::string_view uevent);

}  // namespace fx60::platform::os
