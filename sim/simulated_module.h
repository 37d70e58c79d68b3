// The simulated fingerprint module: answers the requests of the virtual cable
// (describe, SCSI pass-through, HID report writes and reads) as the module does
// on its mass-storage or HID presentation. No sockets and no sleeping here: the
// caller passes the time and carries out the delay a reply asks for.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/cable/wire_codes.h"
#include "sim/fault_plan.h"
#include "sim/finger_timeline.h"
#include "sim/image_source.h"
#include "sim/served_device.h"

namespace fx60::sim {

// The byte values of the virtual cable, shared with the library.
namespace wire = platform::cable;

// Module status words of the tunnelled command protocol.
inline constexpr uint16_t kStatusOk = 0x3000;
inline constexpr uint16_t kStatusNoFinger = 0x3001;
inline constexpr uint16_t kStatusNotStarted = 0x3002;
inline constexpr uint16_t kStatusBadCommand = 0x30FF;
inline constexpr uint16_t kStatusFault = 0x3F00;

inline constexpr uint16_t kHidVendorId = 0x821B;
inline constexpr uint16_t kHidProductId = 0x0202;

struct ModuleConfig {
  WireMode mode = WireMode::Storage;
  std::string inquiryVendor = "Fleetly ";          // 8 characters
  std::string inquiryProduct = "Dermal Scanner  ";  // 16 characters
  std::string inquiryRevision = "0100";             // 4 characters
  std::string versionText = "FX-60 SIM V1.0";
  int imageWidth = kSensorWidth;  // the size the module announces and sends
  int imageHeight = kSensorHeight;
  uint16_t inputReportLength = 65;
  uint16_t outputReportLength = 65;
  uint16_t featureReportLength = 0;
};

struct ModuleStatus {
  bool plugged = true;
  FingerState finger = FingerState::Absent;
  std::map<int, int> indicators;  // indicator number -> 1 on, 0 off
  long fingerPolls = 0;
  long imagesServed = 0;
  long writes = 0;
  long reads = 0;
  int openLinks = 0;
};

class SimulatedModule final : public ServedDevice {
 public:
  SimulatedModule(ModuleConfig config, ImageSource images, FingerTimeline finger, FaultPlan faults = {});

  const ModuleConfig& config() const { return config_; }

  // A new connection (an opened device); closes with closeLink.
  int openLink() override;
  void closeLink(int link) override;

  // Answers one request of a connection.
  Reply handle(int link, std::span<const uint8_t> request, int64_t nowMs) override;

  // The live commands of the control socket (module_control.cpp).
  std::string control(const std::string& line, int64_t nowMs, bool& dropLinks) override;

  // Live control.
  void placeFinger();
  void liftFinger();
  void setFingerScript(FingerTimeline timeline);
  bool setImage(const std::filesystem::path& file, std::string* error = nullptr);
  void addFault(const FaultRule& rule);
  void unplug();
  void plug();
  bool plugged() const override;

  ModuleStatus status(int64_t nowMs) const;

  // Receives one line per request, describing it.
  void setLogger(std::function<void(const std::string&)> logger);

 private:
  struct PendingReport {
    std::vector<uint8_t> bytes;
    int command;
  };
  struct Link {
    long plugGeneration = 0;
    std::optional<PendingReport> storageResponse;  // answer to the last command block
    std::deque<PendingReport> hidReports;           // input reports waiting to be read
  };

  Reply describe() const;
  Reply scsi(Link& link, std::span<const uint8_t> request, int64_t nowMs);
  Reply scsiWrite(Link& link, std::span<const uint8_t> data, int64_t nowMs);
  Reply scsiRead(Link& link, uint32_t length, uint32_t timeoutSeconds);
  Reply hidWrite(Link& link, std::span<const uint8_t> request, int64_t nowMs);
  Reply hidRead(Link& link, std::span<const uint8_t> request);

  std::vector<uint8_t> storageResponse(int command, std::span<const uint8_t> params, int64_t nowMs);
  void queueHidResponse(Link& link, int command, std::span<const uint8_t> payload, int64_t nowMs);
  std::vector<uint8_t> hidResponseReport(int command, uint8_t status, std::span<const uint8_t> payload);
  FingerState pollFinger(int64_t nowMs);
  std::vector<uint8_t> nextAnnouncedImage();
  void log(const std::string& line) const;

  mutable std::mutex mutex_;
  ModuleConfig config_;
  ImageSource images_;
  FingerTimeline finger_;
  FaultPlan faults_;
  std::map<int, Link> links_;
  int nextLink_ = 1;
  int loggingLink_ = 0;  // the connection whose request is being answered
  long plugGeneration_ = 0;
  bool plugged_ = true;
  std::map<int, int> indicators_;
  std::vector<uint8_t> currentImage_;  // the image of the last start-image command
  long fingerPolls_ = 0, imagesServed_ = 0, writes_ = 0, reads_ = 0;
  std::function<void(const std::string&)> logger_;
};

}  // namespace fx60::sim
