#include "sim/simulated_module.h"

#include <algorithm>
#include <cstdio>

#include "sim/byte_order.h"

namespace fx60::sim {

namespace {

constexpr uint8_t kScsiInquiry = 0x12;
constexpr uint8_t kScsiTestUnitReady = 0x00;
constexpr uint8_t kScsiWrite10 = 0x2A;
constexpr uint8_t kScsiRead10 = 0x28;
constexpr size_t kInquiryLength = 36;
constexpr size_t kScsiHeaderLength = 1 + 1 + 16 + 1 + 4 + 4;

constexpr int kCmdSetIndicator = 0xF008;
constexpr int kCmdGetVersion = 0xE003;
constexpr int kCmdDetectFinger = 0xE010;
constexpr int kCmdStartImage = 0xE011;
constexpr int kCmdReadImageHalf = 0xE013;

constexpr int kHidSetIndicator = 2;
constexpr int kHidConnect = 8;
constexpr int kHidDetectFinger = 9;
constexpr int kHidDisconnect = 12;
constexpr int kHidGetVersion = 13;
constexpr int kHidReadImage = 0x45;

constexpr uint8_t kHidRequestMark = 0x88;
constexpr uint8_t kHidResponseMark = 0xAA;
constexpr uint8_t kHidStatusOk = 0;
constexpr uint8_t kHidStatusNoFinger = 1;
constexpr uint8_t kHidStatusFault = 0x10;
constexpr uint8_t kHidStatusBadPacket = 0xFE;
constexpr uint8_t kHidStatusBadCommand = 0xFF;
constexpr int kNoCommand = -1;

std::vector<uint8_t> scsiReply(uint8_t result, std::span<const uint8_t> data = {}) {
  std::vector<uint8_t> reply{result};
  appendU32(reply, static_cast<uint32_t>(data.size()));
  reply.insert(reply.end(), data.begin(), data.end());
  return reply;
}

std::vector<uint8_t> writeReply(uint8_t result, uint32_t bytesWritten) {
  std::vector<uint8_t> reply{result};
  appendU32(reply, bytesWritten);
  return reply;
}

std::string hex(std::span<const uint8_t> bytes, size_t limit = 64) {
  std::string text;
  char cell[4];
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(cell, sizeof cell, i == 0 ? "%02x" : " %02x", bytes[i]);
    text += cell;
  }
  if (bytes.size() > limit) text += " ...";
  return text;
}

std::string commandName(int command) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(command));
  return text;
}

// Request packet bytes actually used: header, payload and checksum, without the
// zero padding of the report.
size_t usedPacketLength(std::span<const uint8_t> packet) {
  if (packet.size() < 5) return packet.size();
  const size_t declared = readU16(packet, 3);
  return std::min(packet.size(), declared + 7);
}

uint16_t sumBytes(std::span<const uint8_t> bytes) {
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  return static_cast<uint16_t>(sum);
}

}  // namespace

SimulatedModule::SimulatedModule(ModuleConfig config, ImageSource images, FingerTimeline finger,
                                 FaultPlan faults)
    : config_(std::move(config)), images_(std::move(images)), finger_(std::move(finger)),
      faults_(std::move(faults)) {}

int SimulatedModule::openLink() {
  std::lock_guard lock(mutex_);
  const int id = nextLink_++;
  links_[id].plugGeneration = plugGeneration_;
  return id;
}

void SimulatedModule::closeLink(int link) {
  std::lock_guard lock(mutex_);
  links_.erase(link);
}

Reply SimulatedModule::handle(int linkId, std::span<const uint8_t> request, int64_t nowMs) {
  std::lock_guard lock(mutex_);
  auto found = links_.find(linkId);
  if (found == links_.end() || !plugged_ || found->second.plugGeneration != plugGeneration_)
    return Reply{{}, 0, true};
  Link& link = found->second;
  loggingLink_ = linkId;
  if (request.empty()) return Reply{{wire::kResultFailed}, 0, false};

  switch (request[0]) {
    case wire::kDescribe:
      log("DESCRIBE");
      return describe();
    case wire::kScsi:
      return scsi(link, request, nowMs);
    case wire::kHidWrite:
      return hidWrite(link, request, nowMs);
    case wire::kHidRead:
      return hidRead(link, request);
    default:
      log("unknown opcode " + hex(request.first(1)));
      return Reply{{wire::kResultFailed}, 0, false};
  }
}

Reply SimulatedModule::describe() const {
  if (config_.mode == WireMode::Storage) return Reply{{wire::kClassMassStorage}, 0, false};
  std::vector<uint8_t> reply{wire::kClassHid};
  appendU16(reply, kHidVendorId);
  appendU16(reply, kHidProductId);
  appendU16(reply, config_.inputReportLength);
  appendU16(reply, config_.outputReportLength);
  appendU16(reply, config_.featureReportLength);
  return Reply{std::move(reply), 0, false};
}

Reply SimulatedModule::scsi(Link& link, std::span<const uint8_t> request, int64_t nowMs) {
  if (request.size() < kScsiHeaderLength) {
    log("SCSI request too short");
    return Reply{scsiReply(wire::kResultFailed), 0, false};
  }
  const uint8_t cdbLength = request[1];
  const auto cdb = request.subspan(2, 16);
  const bool dataIn = request[18] == 1;
  const uint32_t transferLength = readU32(request, 19);
  const uint32_t timeoutSeconds = readU32(request, 23);
  const auto data = request.subspan(kScsiHeaderLength);
  if (cdbLength == 0 || cdbLength > 16 || (!dataIn && data.size() != transferLength)) {
    log("SCSI request malformed");
    return Reply{scsiReply(wire::kResultFailed), 0, false};
  }
  if (config_.mode != WireMode::Storage) {
    log("SCSI request refused: the module presents itself as HID");
    return Reply{scsiReply(wire::kResultFailed), 0, false};
  }

  switch (cdb[0]) {
    case kScsiInquiry: {
      if (!dataIn) return Reply{scsiReply(wire::kResultFailed), 0, false};
      std::vector<uint8_t> inquiry(kInquiryLength, 0);
      inquiry[0] = 0x05;  // CD-ROM device
      inquiry[1] = 0x80;  // removable medium
      inquiry[3] = 0x02;
      inquiry[4] = static_cast<uint8_t>(kInquiryLength - 5);
      auto place = [&](const std::string& text, size_t at, size_t width) {
        for (size_t i = 0; i < width; ++i) inquiry[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
      };
      place(config_.inquiryVendor, 8, 8);
      place(config_.inquiryProduct, 16, 16);
      place(config_.inquiryRevision, 32, 4);
      log("SCSI INQUIRY " + std::to_string(transferLength));
      inquiry.resize(std::min<size_t>(kInquiryLength, transferLength));
      return Reply{scsiReply(wire::kResultDone, inquiry), 0, false};
    }
    case kScsiTestUnitReady:
      return Reply{scsiReply(wire::kResultDone), 0, false};
    case kScsiWrite10:
      if (dataIn) return Reply{scsiReply(wire::kResultFailed), 0, false};
      return scsiWrite(link, data, nowMs);
    case kScsiRead10:
      if (!dataIn) return Reply{scsiReply(wire::kResultFailed), 0, false};
      return scsiRead(link, transferLength, timeoutSeconds);
    default:
      log("SCSI opcode " + hex(cdb.first(1)) + " not supported");
      return Reply{scsiReply(wire::kResultFailed), 0, false};
  }
}

Reply SimulatedModule::scsiWrite(Link& link, std::span<const uint8_t> data, int64_t nowMs) {
  ++writes_;
  const int command = data.size() >= 2 ? readU16(data, 0) : kNoCommand;
  if (faults_.fire(FaultKind::TransportCrc, command)) {
    log("WRITE(10) " + commandName(command) + ": injected CRC error");
    return Reply{writeReply(wire::kResultRetryable, 0), 0, false};
  }
  if (faults_.fire(FaultKind::WriteFail, command)) {
    log("WRITE(10) " + commandName(command) + ": injected failure");
    return Reply{writeReply(wire::kResultFailed, 0), 0, false};
  }
  std::vector<uint8_t> response;
  if (data.size() < 4 || 4u + readU16(data, 2) > data.size()) {
    log("WRITE(10) malformed command block " + hex(data, 8));
    response = {static_cast<uint8_t>(kStatusBadCommand), static_cast<uint8_t>(kStatusBadCommand >> 8), 0, 0};
  } else {
    const auto params = data.subspan(4, readU16(data, 2));
    log("WRITE(10) " + commandName(command) + " params [" + hex(params) + "] transfer " +
        std::to_string(data.size()));
    response = storageResponse(command, params, nowMs);
  }
  link.storageResponse = PendingReport{std::move(response), command};
  return Reply{writeReply(wire::kResultDone, static_cast<uint32_t>(data.size())), 0, false};
}

Reply SimulatedModule::scsiRead(Link& link, uint32_t length, uint32_t timeoutSeconds) {
  ++reads_;
  if (!link.storageResponse) {
    log("READ(10) with no command pending");
    return Reply{scsiReply(wire::kResultFailed), 0, false};
  }
  const int command = link.storageResponse->command;
  if (faults_.fire(FaultKind::Unplug, command)) {
    log("READ(10) " + commandName(command) + ": injected unplug");
    plugged_ = false;
    ++plugGeneration_;
    return Reply{{}, 0, true};
  }
  if (faults_.fire(FaultKind::StallRead, command)) {
    log("READ(10) " + commandName(command) + ": injected stall of " + std::to_string(timeoutSeconds) + " s");
    return Reply{scsiReply(wire::kResultFailed), static_cast<int64_t>(timeoutSeconds) * 1000, false};
  }
  if (faults_.fire(FaultKind::ReadFail, command)) {
    log("READ(10) " + commandName(command) + ": injected failure");
    return Reply{scsiReply(wire::kResultFailed), 0, false};
  }
  std::vector<uint8_t> response = std::move(link.storageResponse->bytes);
  link.storageResponse.reset();
  size_t delivered = std::min<size_t>(response.size(), length);
  if (faults_.fire(FaultKind::ShortRead, command)) {
    delivered = std::max<size_t>(1, delivered / 2);
    log("READ(10) " + commandName(command) + ": injected short transfer");
  }
  response.resize(delivered);
  log("READ(10) " + std::to_string(length) + " -> " + std::to_string(delivered) + " bytes [" +
      hex(response, 8) + "]");
  return Reply{scsiReply(wire::kResultDone, response), 0, false};
}

std::vector<uint8_t> SimulatedModule::storageResponse(int command, std::span<const uint8_t> params,
                                                       int64_t nowMs) {
  auto answer = [](uint16_t status, std::span<const uint8_t> data = {}) {
    // Sized up front: growing it byte by byte trips a false overflow warning of
    // the optimiser in GCC 12 release builds.
    std::vector<uint8_t> out;
    out.reserve(4 + data.size());
    appendU16(out, status);
    appendU16(out, static_cast<uint16_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
  };
  if (faults_.fire(FaultKind::BadStatus, command)) return answer(kStatusFault);

  switch (command) {
    case kCmdSetIndicator:
      if (params.size() < 4) return answer(kStatusBadCommand);
      indicators_[readU16(params, 0)] = readU16(params, 2);
      return answer(kStatusOk);
    case kCmdGetVersion: {
      std::vector<uint8_t> text(config_.versionText.begin(), config_.versionText.end());
      text.push_back(0);
      return answer(kStatusOk, text);
    }
    case kCmdDetectFinger:
      return answer(pollFinger(nowMs) == FingerState::Present ? kStatusOk : kStatusNoFinger);
    case kCmdStartImage:
      currentImage_ = nextAnnouncedImage();
      ++imagesServed_;
      return answer(kStatusOk);
    case kCmdReadImageHalf: {
      if (params.empty() || (params[0] != 0x00 && params[0] != 0xFF)) return answer(kStatusBadCommand);
      if (currentImage_.empty()) return answer(kStatusNotStarted);
      const size_t firstHalf = currentImage_.size() / 2;
      const auto image = std::span<const uint8_t>(currentImage_);
      return answer(kStatusOk, params[0] == 0x00 ? image.first(firstHalf) : image.subspan(firstHalf));
    }
    default:
      return answer(kStatusBadCommand);
  }
}

Reply SimulatedModule::hidWrite(Link& link, std::span<const uint8_t> request, int64_t nowMs) {
  if (request.size() < 5 || config_.mode != WireMode::Hid) {
    log("HID_WRITE refused");
    return Reply{writeReply(wire::kResultFailed, 0), 0, false};
  }
  ++writes_;
  const auto report = request.subspan(5);
  const auto packet = report.empty() ? report : report.subspan(1);

  // Validate the request packet: mark, declared length, checksum.
  int command = kNoCommand;
  std::span<const uint8_t> payload;
  bool wellFormed = false;
  if (packet.size() >= 8 && packet[0] == kHidRequestMark && readU16(packet, 3) >= 1) {
    const size_t payloadLength = readU16(packet, 3) - 1u;
    if (packet.size() >= payloadLength + 8) {
      command = packet[5];
      payload = packet.subspan(6, payloadLength);
      wellFormed = readU16(packet, 6 + payloadLength) == sumBytes(packet.subspan(3, payloadLength + 3));
    }
  }
  if (faults_.fire(FaultKind::TransportCrc, command) || faults_.fire(FaultKind::WriteFail, command)) {
    log("HID_WRITE " + hex(packet.first(usedPacketLength(packet))) + ": injected failure");
    return Reply{writeReply(wire::kResultFailed, 0), 0, false};
  }
  log("HID_WRITE " + hex(packet.first(usedPacketLength(packet))));
  if (!wellFormed) {
    log("HID request packet malformed: answered with an error status");
    link.hidReports.push_back(PendingReport{hidResponseReport(kNoCommand, kHidStatusBadPacket, {}), kNoCommand});
  } else {
    queueHidResponse(link, command, payload, nowMs);
  }
  return Reply{writeReply(wire::kResultDone, static_cast<uint32_t>(report.size())), 0, false};
}

void SimulatedModule::queueHidResponse(Link& link, int command, std::span<const uint8_t> payload, int64_t nowMs) {
  auto respond = [&](uint8_t status, std::span<const uint8_t> data = {}) {
    link.hidReports.push_back(PendingReport{hidResponseReport(command, status, data), command});
  };
  if (faults_.fire(FaultKind::BadStatus, command)) return respond(kHidStatusFault);

  switch (command) {
    case kHidSetIndicator:
      if (payload.size() < 2) return respond(kHidStatusBadCommand);
      indicators_[payload[0]] = payload[1];
      return respond(kHidStatusOk);
    case kHidConnect:
    case kHidDisconnect:
      return respond(kHidStatusOk);
    case kHidDetectFinger:
      return respond(pollFinger(nowMs) == FingerState::Present ? kHidStatusOk : kHidStatusNoFinger);
    case kHidGetVersion: {
      // The text and its terminator, cut to what one response packet can carry.
      std::vector<uint8_t> text(config_.versionText.begin(), config_.versionText.end());
      text.push_back(0);
      const size_t room = config_.inputReportLength > 9 ? config_.inputReportLength - 9u : 0u;
      if (text.size() > room) text.resize(room);
      return respond(kHidStatusOk, text);
    }
    case kHidReadImage: {
      const std::vector<uint8_t> image = nextAnnouncedImage();
      ++imagesServed_;
      std::vector<uint8_t> header{0, 0};
      appendU16(header, static_cast<uint16_t>(config_.imageWidth));
      appendU16(header, static_cast<uint16_t>(config_.imageHeight));
      respond(kHidStatusOk, header);
      // The pixels follow in plain reports: report id, then one chunk each.
      const size_t chunk = config_.inputReportLength > 1 ? config_.inputReportLength - 1u : 1u;
      for (size_t offset = 0; offset < image.size(); offset += chunk) {
        std::vector<uint8_t> report(config_.inputReportLength, 0);
        const size_t count = std::min(chunk, image.size() - offset);
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), count, report.begin() + 1);
        link.hidReports.push_back(PendingReport{std::move(report), kImageDataReports});
      }
      return;
    }
    default:
      return respond(kHidStatusBadCommand);
  }
}

std::vector<uint8_t> SimulatedModule::hidResponseReport(int command, uint8_t status, std::span<const uint8_t> payload) {
  std::vector<uint8_t> packet{kHidResponseMark, 0, 0};
  appendU16(packet, static_cast<uint16_t>(payload.size() + 1));
  packet.push_back(status);
  packet.insert(packet.end(), payload.begin(), payload.end());
  uint16_t checksum = sumBytes(std::span<const uint8_t>(packet).subspan(3));
  if (faults_.fire(FaultKind::BadChecksum, command)) ++checksum;
  if (faults_.fire(FaultKind::BadHeader, command)) packet[0] = kHidResponseMark + 1;
  appendU16(packet, checksum);

  std::vector<uint8_t> report(std::max<size_t>(config_.inputReportLength, 1), 0);
  std::copy_n(packet.begin(), std::min(packet.size(), report.size() - 1), report.begin() + 1);
  return report;
}

Reply SimulatedModule::hidRead(Link& link, std::span<const uint8_t> request) {
  if (request.size() < 9 || config_.mode != WireMode::Hid) {
    log("HID_READ refused");
    return Reply{{wire::kResultFailed}, 0, false};
  }
  ++reads_;
  const uint32_t timeoutMs = readU32(request, 1);
  const uint32_t length = readU32(request, 5);
  if (link.hidReports.empty()) {
    log("HID_READ: nothing to send, time-out after " + std::to_string(timeoutMs) + " ms");
    return Reply{{wire::kResultTimedOut}, timeoutMs, false};
  }
  PendingReport report = std::move(link.hidReports.front());
  link.hidReports.pop_front();
  const int command = report.command;
  const bool imageData = command == kImageDataReports;

  if (faults_.fire(FaultKind::Unplug, command)) {
    log("HID_READ: injected unplug");
    plugged_ = false;
    ++plugGeneration_;
    return Reply{{}, 0, true};
  }
  if (faults_.fire(FaultKind::StallRead, command)) {
    log("HID_READ: injected stall, report dropped");
    return Reply{{wire::kResultTimedOut}, timeoutMs, false};
  }
  if (faults_.fire(FaultKind::ReadFail, command)) {
    log("HID_READ: injected failure, report dropped");
    return Reply{{wire::kResultFailed}, 0, false};
  }
  size_t delivered = std::min<size_t>(report.bytes.size(), length);
  if (faults_.fire(FaultKind::ShortRead, command)) {
    delivered /= 2;
    log("HID_READ: injected short report");
  }
  if (!imageData)
    log("HID_READ -> " + hex(std::span<const uint8_t>(report.bytes).subspan(1, usedPacketLength(
                                 std::span<const uint8_t>(report.bytes).subspan(1)))));
  else if (link.hidReports.empty() || link.hidReports.front().command != kImageDataReports)
    log("HID_READ -> last image data report");
  std::vector<uint8_t> reply{wire::kResultDone};
  reply.insert(reply.end(), report.bytes.begin(), report.bytes.begin() + static_cast<std::ptrdiff_t>(delivered));
  return Reply{std::move(reply), 0, false};
}

FingerState SimulatedModule::pollFinger(int64_t nowMs) {
  ++fingerPolls_;
  return finger_.poll(nowMs);
}

std::vector<uint8_t> SimulatedModule::nextAnnouncedImage() {
  const SensorImage served = images_.next();
  const int width = config_.imageWidth, height = config_.imageHeight;
  if (width == kSensorWidth && height == kSensorHeight) return served;
  // Another size: the sensor image cropped, or padded with white.
  std::vector<uint8_t> image(static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0)), 255);
  for (int y = 0; y < height && y < kSensorHeight; ++y)
    for (int x = 0; x < width && x < kSensorWidth; ++x)
      image[static_cast<size_t>(y) * width + x] = served[static_cast<size_t>(y) * kSensorWidth + x];
  return image;
}

void SimulatedModule::placeFinger() {
  std::lock_guard lock(mutex_);
  finger_ = FingerTimeline::constant(FingerState::Present);
}

void SimulatedModule::liftFinger() {
  std::lock_guard lock(mutex_);
  finger_ = FingerTimeline::constant(FingerState::Absent);
}

void SimulatedModule::setFingerScript(FingerTimeline timeline) {
  std::lock_guard lock(mutex_);
  finger_ = std::move(timeline);
}

bool SimulatedModule::setImage(const std::filesystem::path& file, std::string* error) {
  std::lock_guard lock(mutex_);
  return images_.replace(file, error);
}

void SimulatedModule::addFault(const FaultRule& rule) {
  std::lock_guard lock(mutex_);
  faults_.add(rule);
}

void SimulatedModule::unplug() {
  std::lock_guard lock(mutex_);
  plugged_ = false;
  ++plugGeneration_;
}

void SimulatedModule::plug() {
  std::lock_guard lock(mutex_);
  plugged_ = true;
}

bool SimulatedModule::plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

ModuleStatus SimulatedModule::status(int64_t nowMs) const {
  std::lock_guard lock(mutex_);
  ModuleStatus status;
  status.plugged = plugged_;
  status.finger = finger_.peek(nowMs);
  status.indicators = indicators_;
  status.fingerPolls = fingerPolls_;
  status.imagesServed = imagesServed_;
  status.writes = writes_;
  status.reads = reads_;
  status.openLinks = static_cast<int>(links_.size());
  return status;
}

void SimulatedModule::setLogger(std::function<void(const std::string&)> logger) {
  std::lock_guard lock(mutex_);
  logger_ = std::move(logger);
}

void SimulatedModule::log(const std::string& line) const {
  if (logger_) logger_("link " + std::to_string(loggingLink_) + ": " + line);
}

}  // namespace fx60::sim
