#include "sim/idcard/card_file.h"

#include <fstream>
#include <iterator>
#include <map>

#include "sim/idcard/text_codec.h"

namespace fx60::idcard {

namespace {

constexpr std::string_view kMagicLine = "IDCARD 1";
constexpr std::string_view kAppendixKey = "appendix";
constexpr std::string_view kTextBlockKey = "text-block";
constexpr std::string_view kPhotoKey = "photo";
constexpr std::string_view kFingerprintKey = "fingerprint";
// A header longer than this is not a card file's (a binary file without a blank line).
constexpr size_t kMaxHeaderBytes = 8192;

bool validFingerprintSize(size_t bytes) { return bytes == 0 || bytes == kTemplateBytes || bytes == kMaxFingerprintBytes; }

bool fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

// A block size written in the header: decimal digits only.
std::optional<size_t> parseSize(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  size_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  return value;
}

const FieldSlot* slotOfKey(std::string_view key) {
  for (const FieldSlot& slot : kFieldSlots)
    if (slot.key == key) return &slot;
  return nullptr;
}

}  // namespace

std::optional<std::vector<uint8_t>> encodeSlot(std::string_view utf8, size_t bytes, std::string_view what,
                                               std::string* error) {
  for (const char c : utf8) {
    if (static_cast<unsigned char>(c) < 0x20) {
      fail(error, std::string(what) + ": control characters (such as a line break) cannot be on a card");
      return std::nullopt;
    }
  }
  const auto ucs2 = convertText(utf8, kUtf8, kUcs2);
  if (!ucs2) {
    fail(error, std::string(what) + ": \"" + std::string(utf8) +
                    "\" is not UTF-8 text of the basic plane (the card stores UCS-2)");
    return std::nullopt;
  }
  if (ucs2->size() > bytes) {
    fail(error, std::string(what) + ": \"" + std::string(utf8) + "\" has " + std::to_string(ucs2->size() / 2) +
                    " characters; the card holds at most " + std::to_string(bytes / 2));
    return std::nullopt;
  }
  std::vector<uint8_t> slot(ucs2->begin(), ucs2->end());
  while (slot.size() < bytes) {
    slot.push_back(0x20);
    slot.push_back(0x00);
  }
  return slot;
}

std::optional<CardBlocks> cardBlocks(const VirtualCard& card, std::string* error) {
  CardBlocks blocks;
  if (card.rawTextBlock) {
    if (card.rawTextBlock->size() != kTextBlockBytes) {
      fail(error, "the raw text block must be " + std::to_string(kTextBlockBytes) + " bytes");
      return std::nullopt;
    }
    blocks.text = *card.rawTextBlock;
  } else {
    // Fields first, then the unused tail, all padded with spaces.
    const auto padding = encodeSlot("", kTextBlockBytes, "text", error);
    blocks.text = *padding;
    for (const FieldSlot& slot : kFieldSlots) {
      const auto encoded = encodeSlot(card.field(slot.field), slot.bytes, slot.key, error);
      if (!encoded) return std::nullopt;
      std::copy(encoded->begin(), encoded->end(), blocks.text.begin() + static_cast<std::ptrdiff_t>(slot.offset));
    }
  }
  if (!card.appendix.empty()) {
    const auto appendix = encodeSlot(card.appendix, kAppendixBytes, kAppendixKey, error);
    if (!appendix) return std::nullopt;
    blocks.appendix = *appendix;
  }
  if (card.photoBlock.size() != kPhotoBlockBytes) {
    fail(error, "the photo block must be " + std::to_string(kPhotoBlockBytes) + " bytes");
    return std::nullopt;
  }
  if (!validFingerprintSize(card.fingerprints.size())) {
    fail(error, "the fingerprint block must be 0, 512 or 1024 bytes");
    return std::nullopt;
  }
  blocks.photo = card.photoBlock;
  blocks.fingerprints = card.fingerprints;
  return blocks;
}

std::vector<uint8_t> serializeCard(const VirtualCard& card) {
  std::string header = std::string(kMagicLine) + "\n";
  if (card.rawTextBlock) {
    header += std::string(kTextBlockKey) + ": " + std::to_string(card.rawTextBlock->size()) + "\n";
  } else {
    for (const FieldSlot& slot : kFieldSlots) header += std::string(slot.key) + ": " + card.field(slot.field) + "\n";
  }
  if (!card.appendix.empty()) header += std::string(kAppendixKey) + ": " + card.appendix + "\n";
  header += std::string(kPhotoKey) + ": " + std::to_string(card.photoBlock.size()) + "\n";
  header += std::string(kFingerprintKey) + ": " + std::to_string(card.fingerprints.size()) + "\n\n";

  std::vector<uint8_t> bytes(header.begin(), header.end());
  if (card.rawTextBlock) bytes.insert(bytes.end(), card.rawTextBlock->begin(), card.rawTextBlock->end());
  bytes.insert(bytes.end(), card.photoBlock.begin(), card.photoBlock.end());
  bytes.insert(bytes.end(), card.fingerprints.begin(), card.fingerprints.end());
  return bytes;
}

std::optional<VirtualCard> parseCard(std::span<const uint8_t> bytes, std::string* error) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), std::min(bytes.size(), kMaxHeaderBytes));
  const size_t headerEnd = text.find("\n\n");
  if (!text.starts_with(std::string(kMagicLine) + "\n")) {
    fail(error, "not a card file (it must start with \"IDCARD 1\")");
    return std::nullopt;
  }
  if (headerEnd == std::string_view::npos) {
    fail(error, "the card file's header has no end (an empty line)");
    return std::nullopt;
  }

  std::map<std::string, std::string, std::less<>> values;
  size_t at = kMagicLine.size() + 1;
  while (at < headerEnd + 1) {
    const size_t end = text.find('\n', at);
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      fail(error, "header line without a key: \"" + std::string(line) + "\"");
      return std::nullopt;
    }
    const std::string key(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    if (value.starts_with(' ')) value.remove_prefix(1);
    if (!slotOfKey(key) && key != kAppendixKey && key != kTextBlockKey && key != kPhotoKey && key != kFingerprintKey) {
      fail(error, "unknown header key \"" + key + "\"");
      return std::nullopt;
    }
    if (!values.emplace(key, std::string(value)).second) {
      fail(error, "header key \"" + key + "\" appears twice");
      return std::nullopt;
    }
  }

  VirtualCard card;
  const bool rawText = values.contains(kTextBlockKey);
  for (const FieldSlot& slot : kFieldSlots) {
    const auto found = values.find(slot.key);
    if (rawText && found != values.end()) {
      fail(error, "a card with a raw text block has no field \"" + std::string(slot.key) + "\"");
      return std::nullopt;
    }
    if (!rawText && found == values.end()) {
      fail(error, "the field \"" + std::string(slot.key) + "\" is missing");
      return std::nullopt;
    }
    if (!rawText) card.field(slot.field) = found->second;
  }
  if (const auto found = values.find(kAppendixKey); found != values.end()) card.appendix = found->second;

  auto sizeOf = [&](std::string_view key) -> std::optional<size_t> {
    const auto found = values.find(key);
    if (found == values.end()) return std::nullopt;
    return parseSize(found->second);
  };
  const auto textSize = rawText ? sizeOf(kTextBlockKey) : std::optional<size_t>(0);
  const auto photoSize = sizeOf(kPhotoKey);
  const auto fingerprintSize = sizeOf(kFingerprintKey);
  if (!textSize || (rawText && *textSize != kTextBlockBytes)) {
    fail(error, "the raw text block must be 256 bytes");
    return std::nullopt;
  }
  if (!photoSize || *photoSize != kPhotoBlockBytes) {
    fail(error, "the photo block must be 1024 bytes");
    return std::nullopt;
  }
  if (!fingerprintSize || !validFingerprintSize(*fingerprintSize)) {
    fail(error, "the fingerprint block must be 0, 512 or 1024 bytes");
    return std::nullopt;
  }

  const size_t blocksStart = headerEnd + 2;
  const size_t expected = blocksStart + *textSize + *photoSize + *fingerprintSize;
  if (bytes.size() < expected) {
    fail(error, "the card file is cut short: " + std::to_string(bytes.size()) + " bytes of " +
                    std::to_string(expected));
    return std::nullopt;
  }
  if (bytes.size() > expected) {
    fail(error, "the card file has " + std::to_string(bytes.size() - expected) + " bytes after its blocks");
    return std::nullopt;
  }
  auto take = [&, next = blocksStart](size_t count) mutable {
    std::vector<uint8_t> block(bytes.begin() + static_cast<std::ptrdiff_t>(next),
                               bytes.begin() + static_cast<std::ptrdiff_t>(next + count));
    next += count;
    return block;
  };
  if (rawText) card.rawTextBlock = take(*textSize);
  card.photoBlock = take(*photoSize);
  card.fingerprints = take(*fingerprintSize);

  // Every field must fit its slot, as on a real card.
  if (!cardBlocks(card, error)) return std::nullopt;
  return card;
}

std::optional<VirtualCard> readCardFile(const std::filesystem::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    fail(error, "cannot read " + path.string());
    return std::nullopt;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto card = parseCard(bytes, error);
  if (!card && error) *error = path.filename().string() + ": " + *error;
  return card;
}

bool writeCardFile(const std::filesystem::path& path, const VirtualCard& card, std::string* error) {
  if (!cardBlocks(card, error)) return false;
  const auto bytes = serializeCard(card);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) return fail(error, "cannot write " + path.string());
  return true;
}

}  // namespace fx60::idcard
