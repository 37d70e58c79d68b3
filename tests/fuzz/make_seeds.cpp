// Writes the seed corpus of every fuzz target: real images and the templates our
// extractor makes of them (when the shared images are present), generated prints,
// and well-formed module conversations on both transports.
//
// Usage: fx60_fuzz_seeds OUT_DIR   (makes OUT_DIR/<target>/ for each target)
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/algorithm_engine.h"
#include "driver/usb_base.h"
#include "sim/image_source.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tests/support/test_data.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Template = std::array<uint8_t, fx60::kTemplateSize>;

// Images taken from each shared set, and prints generated when there are none.
constexpr size_t kImagesPerSet = 4;
constexpr uint32_t kGeneratedPrints = 4;

class CorpusWriter {
 public:
  explicit CorpusWriter(fs::path dir) : dir_(std::move(dir)) { fs::create_directories(dir_); }

  void add(const Bytes& bytes) {
    std::ofstream out(dir_ / ("seed-" + std::to_string(count_++)), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  int count() const { return count_; }

 private:
  fs::path dir_;
  int count_ = 0;
};

void append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }
void appendU16(Bytes& to, size_t value) {
  to.push_back(static_cast<uint8_t>(value));
  to.push_back(static_cast<uint8_t>(value >> 8));
}

std::vector<Bytes> sourceImages() {
  std::vector<Bytes> images;
  for (const auto& set : fx60::testing::fingerprintSets()) {
    const auto files = fx60::testing::imagesOfSet(set);
    for (size_t i = 0; i < files.size() && i < kImagesPerSet; ++i) {
      auto image = fx60::testing::readPgm(files[i]);
      if (!image.empty()) images.push_back(std::move(image));
    }
  }
  for (uint32_t seed = 1; seed <= kGeneratedPrints; ++seed) images.push_back(fx60::sim::synthesizePrint(seed));
  return images;
}

// ---- HID conversations (report length 65: report id byte, 64 packet bytes) ----

constexpr size_t kHidReport = 65;

Bytes hidReport(const Bytes& packet) {
  Bytes record = {0x00, 0x00};  // control byte "full report", report id
  append(record, packet);
  record.resize(1 + kHidReport, 0);
  return record;
}

Bytes hidResponse(uint8_t status, const Bytes& payload = {}) {
  const size_t m = payload.size() + 1;
  Bytes packet = {0xAA, 0, 0, static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8), status};
  append(packet, payload);
  uint32_t sum = 0;
  for (size_t i = 3; i < packet.size(); ++i) sum += packet[i];
  appendU16(packet, sum & 0xFFFF);
  return hidReport(packet);
}

Bytes hidHeader(uint8_t scenario, uint8_t options) {
  Bytes b = {scenario, options};
  appendU16(b, kHidReport);
  appendU16(b, kHidReport);
  return b;
}

Bytes hidCapture(const Bytes& image, uint8_t options) {
  Bytes b = hidHeader(0, options);
  append(b, hidResponse(0));  // connect
  append(b, hidResponse(0));  // finger indicator on
  append(b, hidResponse(0));  // a finger is present
  append(b, hidResponse(0, {0, 0, 0x00, 0x01, 0x68, 0x01}));  // 256 x 360 follows
  for (size_t at = 0; at < image.size(); at += kHidReport - 1) {
    Bytes chunk(image.begin() + static_cast<std::ptrdiff_t>(at),
                image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), at + kHidReport - 1)));
    append(b, hidReport(chunk));
  }
  for (int i = 0; i < 6; ++i) append(b, hidResponse(0));  // indicators, lift, release
  return b;
}

Bytes hidVersionAndDetect() {
  Bytes b = hidHeader(1, 0);
  const std::string_view text = "FX-60 V2.00";
  append(b, hidResponse(0));
  append(b, hidResponse(0, Bytes(text.begin(), text.end())));
  append(b, hidResponse(0));
  append(b, hidResponse(0));
  append(b, hidResponse(0));
  append(b, hidResponse(0));
  return b;
}

// ---- mass-storage conversations ----

Bytes scsiData(const Bytes& data) {
  Bytes record = {0x00};
  appendU16(record, data.size());
  append(record, data);
  return record;
}

Bytes inquiry() {
  Bytes data(36, 0);
  data[0] = 0x05;  // CD-ROM
  std::copy(fx60::kStorageModuleIdentity.begin(), fx60::kStorageModuleIdentity.end(), data.begin() + 8);
  return scsiData(data);
}

Bytes moduleResponse(const Bytes& data = {}, uint16_t status = 0x3000) {
  Bytes r;
  appendU16(r, status);
  appendU16(r, data.size());
  append(r, data);
  return scsiData(r);
}

Bytes storageCapture(const Bytes& image, uint8_t options) {
  Bytes b = {2, options};
  append(b, inquiry());
  append(b, moduleResponse({0, 0}));  // finger indicator on
  append(b, moduleResponse());        // a finger is present
  append(b, moduleResponse());        // image started
  const auto half = static_cast<std::ptrdiff_t>(image.size() / 2);
  append(b, moduleResponse(Bytes(image.begin(), image.begin() + half)));
  append(b, moduleResponse(Bytes(image.begin() + half, image.end())));
  for (int i = 0; i < 6; ++i) append(b, moduleResponse({0, 0}));
  return b;
}

Bytes storageVersionAndDetect() {
  Bytes b = {3, 0};
  const std::string_view text = "FX60 V2.00 20170621";
  append(b, inquiry());
  append(b, moduleResponse(Bytes(text.begin(), text.end())));
  append(b, inquiry());
  append(b, moduleResponse());
  return b;
}

Bytes cableResponse(uint8_t options, uint16_t requested, const Bytes& response) {
  Bytes b = {4, options};
  appendU16(b, requested);
  append(b, response);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  const auto images = sourceImages();

  CorpusWriter extract(out / "extract");
  CorpusWriter templateOps(out / "template_ops");
  CorpusWriter match(out / "match");
  CorpusWriter transport(out / "transport");

  extract.add(Bytes{0xFF});        // white
  extract.add(Bytes{0x00});        // black
  extract.add(Bytes{0, 0, 255, 255, 0, 0, 255, 255});  // fine stripes
  std::vector<Template> unsealed;
  for (const auto& image : images) {
    extract.add(image);
    Template sealed{};
    if (fx60::ExtractSealedTemplate(image.data(), sealed.data()) != 1) continue;
    templateOps.add(Bytes(sealed.begin(), sealed.end()));
    Template plain = sealed;
    if (fx60::VerifyTemplateSeal(plain.data()) == 1) {
      templateOps.add(Bytes(plain.begin(), plain.end()));
      unsealed.push_back(plain);
    }
  }

  // Pairs: neighbours in the list are mostly impressions of one finger, the others
  // are not. Mode 2 | level 3: B is sealed by the target.
  for (size_t i = 0; i < unsealed.size(); ++i) {
    for (size_t j : {i, i + 1, i + 5}) {
      if (j >= unsealed.size()) continue;
      Bytes input = {static_cast<uint8_t>(2 | 3 << 2)};
      append(input, Bytes(unsealed[i].begin(), unsealed[i].end()));
      append(input, Bytes(unsealed[j].begin(), unsealed[j].end()));
      match.add(input);
    }
  }
  Template empty{};
  fx60::BuildEmptyTemplate(empty.data());
  templateOps.add(Bytes(empty.begin(), empty.end()));

  const Bytes& print = images.back();
  transport.add(hidCapture(print, 0x30));
  transport.add(hidCapture(print, 0x70));  // waits for the lift
  transport.add(hidVersionAndDetect());
  transport.add(storageCapture(print, 0x20));
  transport.add(storageVersionAndDetect());
  transport.add(cableResponse(0, 0, {0x02, 0x1B, 0x82, 0x02, 0x02, 65, 0, 65, 0, 0, 0}));
  transport.add(cableResponse(1, 8, {0x00, 8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));

  std::printf("seeds: extract %d, template_ops %d, match %d, transport %d\n", extract.count(),
              templateOps.count(), match.count(), transport.count());
  return 0;
}
