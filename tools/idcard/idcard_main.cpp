// idcard: makes and shows virtual identity-card files for idcard-sim.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "sim/idcard/card_file.h"
#include "sim/idcard/card_maker.h"
#include "sim/idcard/photo_block.h"
#include "sim/idcard/portrait.h"
#include "sim/idcard/text_codec.h"
#include "tools/support/image_io.h"

namespace {

using namespace fx60::idcard;

constexpr const char* kUsage =
    "usage: idcard make -o CARD [fields] (--photo PICTURE | --photo-block FILE) [--finger F]...\n"
    "       idcard show CARD [--photo OUT.jpg]\n"
    "       idcard portrait -o OUT.jpg [--variant N]\n"
    "\n"
    "make: writes a virtual card file. Fields (UTF-8; each must fit its slot on the card):\n"
    "  --name TEXT (15 characters)      --sex 1|2|男|女|male|female\n"
    "  --nation CODE|NAME (01..98)      --birth YYYYMMDD\n"
    "  --address TEXT (35 characters)   --id-number TEXT (18 characters)\n"
    "  --authority TEXT (15 characters) --valid-from YYYYMMDD   --valid-to YYYYMMDD|TEXT\n"
    "  --appendix TEXT                  a later address note (35 characters)\n"
    "  --text-block FILE                a raw 256-byte text block instead of the fields\n"
    "  --photo PICTURE                  PNG or JPEG of any size: cropped to 102 x 126 and\n"
    "                                   squeezed into a JPEG of at most 1024 bytes\n"
    "  --photo-block FILE               raw photo block bytes (at most 1024, zero-padded)\n"
    "  --finger F                       up to two: a fingerprint image (PGM, BMP or PNG,\n"
    "                                   256 x 360) turned into an unsealed template, or a\n"
    "                                   512-byte template file (.tpl) stored as it is\n"
    "  --fit                            centre-crop or pad fingerprint images of other sizes\n"
    "show: prints a card's fields and block sizes; --photo writes its photo.\n"
    "portrait: draws neutral portrait artwork (variants 0..3).\n";

int failure(const std::string& message) {
  std::cerr << "idcard: " << message << "\n";
  return 1;
}

std::optional<std::vector<uint8_t>> readBytes(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return std::nullopt;
  }
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A template file is stored as it is; anything else is an image to extract from.
std::optional<std::vector<uint8_t>> fingerTemplate(const std::string& path, bool fit, std::string* error) {
  const bool templateFile = path.ends_with(".tpl");
  if (templateFile) {
    auto bytes = readBytes(path, error);
    if (bytes && bytes->size() != kTemplateBytes) {
      *error = path + ": a template file holds 512 bytes, this one " + std::to_string(bytes->size());
      return std::nullopt;
    }
    return bytes;
  }
  std::vector<uint8_t> pixels;
  if (!fx60::tool::readFingerprintImage(path, fit, pixels, *error)) return std::nullopt;
  const auto tpl = cardTemplate(pixels.data(), error);
  if (!tpl) {
    *error = path + ": " + *error;
    return std::nullopt;
  }
  return std::vector<uint8_t>(tpl->begin(), tpl->end());
}

int make(const std::vector<std::string>& args) {
  std::map<std::string, std::string> options;
  std::vector<std::string> fingers;
  bool fit = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--fit") {
      fit = true;
      continue;
    }
    if (!arg.starts_with("-") || i + 1 >= args.size()) return failure("make: unexpected '" + arg + "'\n" + kUsage);
    const std::string key = arg == "-o" ? "output" : arg.substr(2);
    if (key == "finger") fingers.push_back(args[++i]);
    else options[key] = args[++i];
  }
  auto take = [&](const std::string& key) -> std::optional<std::string> {
    const auto found = options.find(key);
    if (found == options.end()) return std::nullopt;
    std::string value = found->second;
    options.erase(found);
    return value;
  };

  std::string error;
  const auto output = take("output");
  if (!output) return failure("make: -o CARD is required");
  VirtualCard card;
  if (const auto textBlock = take("text-block")) {
    auto bytes = readBytes(*textBlock, &error);
    if (!bytes) return failure(error);
    if (bytes->size() != kTextBlockBytes) return failure(*textBlock + ": a text block holds 256 bytes");
    card.rawTextBlock = std::move(*bytes);
  } else {
    std::string missing;
    for (const FieldSlot& slot : kFieldSlots) {
      auto value = take(std::string(slot.key));
      if (!value) {
        missing += " --" + std::string(slot.key);
        continue;
      }
      if (slot.field == Field::Sex) value = sexCode(*value, &error);
      if (slot.field == Field::Nation) value = nationCode(*value, &error);
      if (!value) return failure(error);
      card.field(slot.field) = *value;
    }
    if (!missing.empty()) return failure("make: missing" + missing);
  }
  if (const auto appendix = take("appendix")) card.appendix = *appendix;

  const auto photo = take("photo");
  const auto photoBlock = take("photo-block");
  if (photo.has_value() == photoBlock.has_value()) return failure("make: give either --photo or --photo-block");
  if (photo) {
    const auto picture = readPicture(*photo, &error);
    if (!picture) return failure(error);
    const auto block = makePhotoBlock(*picture, &error);
    if (!block) return failure(*photo + ": " + error);
    card.photoBlock = *block;
  } else {
    auto bytes = readBytes(*photoBlock, &error);
    if (!bytes) return failure(error);
    if (bytes->size() > kPhotoBlockBytes) return failure(*photoBlock + ": a photo block holds at most 1024 bytes");
    bytes->resize(kPhotoBlockBytes, 0);
    card.photoBlock = std::move(*bytes);
  }

  if (fingers.size() > 2) return failure("make: a card holds at most two fingerprints");
  for (const std::string& finger : fingers) {
    const auto tpl = fingerTemplate(finger, fit, &error);
    if (!tpl) return failure(error);
    card.fingerprints.insert(card.fingerprints.end(), tpl->begin(), tpl->end());
  }
  if (!options.empty()) return failure("make: unknown option --" + options.begin()->first);
  if (!writeCardFile(*output, card, &error)) return failure(error);
  return 0;
}

int show(const std::vector<std::string>& args) {
  if (args.empty()) return failure("show: which card?");
  std::string error;
  const auto card = readCardFile(args[0], &error);
  if (!card) return failure(error);
  if (card->rawTextBlock) {
    std::cout << "text-block: 256 bytes\n";
  } else {
    for (const FieldSlot& slot : kFieldSlots) std::cout << slot.key << ": " << card->field(slot.field) << "\n";
  }
  if (!card->appendix.empty()) std::cout << "appendix: " << card->appendix << "\n";
  const auto picture = decodePhotoBlock(card->photoBlock, &error);
  std::cout << "photo: " << (picture ? "102 x 126 JPEG" : "not ours (" + error + ")") << "\n";
  std::cout << "fingerprints: " << card->fingerprints.size() / kTemplateBytes << "\n";
  if (args.size() == 3 && args[1] == "--photo") {
    if (!picture) return failure("show: the card's photo cannot be decoded");
    if (!writeJpeg(args[2], *picture, 95, &error)) return failure(error);
  } else if (args.size() != 1) {
    return failure("show: unexpected arguments");
  }
  return 0;
}

int portrait(const std::vector<std::string>& args) {
  std::string output;
  int variant = 0;
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "-o") {
      output = args[i + 1];
    } else if (args[i] == "--variant") {
      const auto [end, ec] = std::from_chars(args[i + 1].data(), args[i + 1].data() + args[i + 1].size(), variant);
      if (ec != std::errc() || end != args[i + 1].data() + args[i + 1].size()) return failure("portrait: bad variant");
    } else {
      return failure("portrait: unexpected '" + args[i] + "'");
    }
  }
  if (output.empty() || args.size() % 2 != 0) return failure("portrait: -o OUT.jpg is required");
  std::string error;
  if (!writeJpeg(output, drawPortrait(variant), 95, &error)) return failure(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return args.empty() ? 2 : 0;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "make") return make(rest);
  if (args[0] == "show") return show(rest);
  if (args[0] == "portrait") return portrait(rest);
  return failure("unknown command '" + args[0] + "'\n" + kUsage);
}
