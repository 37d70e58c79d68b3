// Virtual identity cards: what a card holds, the blocks a reader delivers from
// it, and the card file that stores it.
//
// A card file is a short UTF-8 text header, a blank line, then the binary blocks:
//
//     IDCARD 1
//     name: <text>            the nine text fields, as the card holds them
//     sex: <text>
//     nation: <text>
//     birth: <text>
//     address: <text>
//     id-number: <text>
//     authority: <text>
//     valid-from: <text>
//     valid-to: <text>
//     appendix: <text>        optional: a later address note
//     photo: 1024
//     fingerprint: 0|512|1024
//     <empty line>
//     <photo block><fingerprint block>
//
// Instead of the nine field lines a header may hold "text-block: 256"; the raw
// 256-byte text block then comes first among the binary blocks (for cards whose
// text is deliberately broken).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fx60::idcard {

inline constexpr size_t kTextBlockBytes = 256;
inline constexpr size_t kPhotoBlockBytes = 1024;
inline constexpr size_t kTemplateBytes = 512;
inline constexpr size_t kMaxFingerprintBytes = 2 * kTemplateBytes;
inline constexpr size_t kAppendixBytes = 70;

enum class Field { Name, Sex, Nation, Birth, Address, IdNumber, Authority, ValidFrom, ValidTo };
inline constexpr size_t kFieldCount = 9;

// Where a field lies in the UCS-2 text block; the rest of its slot is spaces.
struct FieldSlot {
  Field field;
  std::string_view key;  // its key in the card file
  size_t offset;         // bytes
  size_t bytes;
};

inline constexpr std::array<FieldSlot, kFieldCount> kFieldSlots = {{
    {Field::Name, "name", 0, 30},
    {Field::Sex, "sex", 30, 2},
    {Field::Nation, "nation", 32, 4},
    {Field::Birth, "birth", 36, 16},
    {Field::Address, "address", 52, 70},
    {Field::IdNumber, "id-number", 122, 36},
    {Field::Authority, "authority", 158, 30},
    {Field::ValidFrom, "valid-from", 188, 16},
    {Field::ValidTo, "valid-to", 204, 16},
}};

struct VirtualCard {
  std::array<std::string, kFieldCount> fields;  // UTF-8, indexed by Field
  std::optional<std::vector<uint8_t>> rawTextBlock;  // replaces the fields when set
  std::string appendix;                              // UTF-8; empty: none
  std::vector<uint8_t> photoBlock;                   // kPhotoBlockBytes
  std::vector<uint8_t> fingerprints;                 // 0, 512 or 1024 bytes

  std::string& field(Field f) { return fields[static_cast<size_t>(f)]; }
  const std::string& field(Field f) const { return fields[static_cast<size_t>(f)]; }
};

// What a reader delivers from a card.
struct CardBlocks {
  std::vector<uint8_t> text;          // 256 bytes, UCS-2 little-endian
  std::vector<uint8_t> photo;         // 1024 bytes
  std::vector<uint8_t> fingerprints;  // 0, 512 or 1024 bytes
  std::vector<uint8_t> appendix;      // empty, or 70 bytes UCS-2 little-endian
};

// The field's text as UCS-2 little-endian padded with spaces to `bytes`; empty
// with a message when it does not fit or is not representable in UCS-2.
std::optional<std::vector<uint8_t>> encodeSlot(std::string_view utf8, size_t bytes, std::string_view what,
                                               std::string* error);

// The blocks of a card; empty with a message when the card is not well formed
// (a field too long for its slot, a photo block of the wrong size, ...).
std::optional<CardBlocks> cardBlocks(const VirtualCard& card, std::string* error);

// The card file's bytes. The card must be well formed (cardBlocks succeeds).
std::vector<uint8_t> serializeCard(const VirtualCard& card);

// Reads a card file's bytes; empty with a message when they are damaged or cut.
std::optional<VirtualCard> parseCard(std::span<const uint8_t> bytes, std::string* error);

std::optional<VirtualCard> readCardFile(const std::filesystem::path& path, std::string* error);
bool writeCardFile(const std::filesystem::path& path, const VirtualCard& card, std::string* error);

}  // namespace fx60::idcard
