// The station's fingerprint devices: live capture of a 512-byte feature template
// with an optional image file, and template comparison. Two implementations: over
// the FX60Link driver library, and over an outside standard capture and algorithm
// pair loaded from the program directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stop_token>

#include "platform/dynamic_library.h"

namespace fx60::station {

// Status of every device operation.
enum DeviceStatus : int {
  kDeviceDone = 0,         // for compareTemplates: the templates match
  kDeviceBadArgument = 1,  // a required buffer or the image path is missing
  kDeviceLibraryMissing = 2,
  kDeviceFailed = 3,  // device, capture, extraction or comparison failed, or no match
};

inline constexpr int kImageWidth = 256;
inline constexpr int kImageHeight = 360;
inline constexpr size_t kTemplateBytes = 512;
inline constexpr int kCaptureQualityThreshold = 60;
inline constexpr int kComparisonLevel = 3;

class CFingerprintDevice {
 public:
  explicit CFingerprintDevice(std::filesystem::path programDirectory)
      : programDirectory_(std::move(programDirectory)) {}
  virtual ~CFingerprintDevice() = default;
  CFingerprintDevice(const CFingerprintDevice&) = delete;
  CFingerprintDevice& operator=(const CFingerprintDevice&) = delete;

  virtual int getImageSize(int& width, int& height) = 0;

  // Waits for a good finger and writes its template (512 bytes) and, with a
  // non-empty `imagePath`, an image of the finger as a BMP file. Waits as long as
  // it takes; a stop request (or interruptCapture) ends the wait with a failure.
  virtual int captureTemplate(uint8_t* featureTemplate, int* quality, const std::filesystem::path& imagePath,
                              std::stop_token stop) = 0;

  // 0 when the templates match. `templateB` is the newer, live one.
  virtual int compareTemplates(const uint8_t* templateA, const uint8_t* templateB, int level) = 0;

  // Called from another thread, repeatedly until a running captureTemplate has
  // returned, after its stop was requested: makes a wait inside the device's
  // library give up.
  virtual void interruptCapture() {}

 protected:
  const std::filesystem::path& programDirectory() const { return programDirectory_; }

 private:
  std::filesystem::path programDirectory_;
};

// Over the three exports of the FX60Link library, linked.
class CDriverFingerprintDevice final : public CFingerprintDevice {
 public:
  using CFingerprintDevice::CFingerprintDevice;
  int getImageSize(int& width, int& height) override;
  int captureTemplate(uint8_t* featureTemplate, int* quality, const std::filesystem::path& imagePath,
                      std::stop_token stop) override;
  int compareTemplates(const uint8_t* templateA, const uint8_t* templateB, int level) override;
  void interruptCapture() override;
};

// Over "ID_FprCap.dll" and "ID_Fpr.dll" from the program directory, loaded on
// first use and kept until the device goes.
class CStandardFingerprintDevice final : public CFingerprintDevice {
 public:
  using CFingerprintDevice::CFingerprintDevice;
  ~CStandardFingerprintDevice() override;
  int getImageSize(int& width, int& height) override;
  int captureTemplate(uint8_t* featureTemplate, int* quality, const std::filesystem::path& imagePath,
                      std::stop_token stop) override;
  int compareTemplates(const uint8_t* templateA, const uint8_t* templateB, int level) override;

 private:
  struct CaptureApi {
    int (*init)() = nullptr;
    int (*close)() = nullptr;
    int (*getChannelCount)() = nullptr;
    int (*beginCapture)(int channel) = nullptr;
    int (*getRawData)(int channel, unsigned char* raw) = nullptr;
    int (*endCapture)(int channel) = nullptr;
    int (*getErrorInfo)(int errorCode, char* text) = nullptr;
    int (*getBmpData)(int channel, unsigned char* bmp) = nullptr;
    int (*setCaptureWindow)(int channel, int originX, int originY, int width, int height) = nullptr;
  };
  struct AlgorithmApi {
    int (*end)() = nullptr;
    int (*begin)() = nullptr;
    int (*featureExtract)(int mode, int fingerCode, const unsigned char* raw, unsigned char* featureTemplate) = nullptr;
    int (*featureMatch)(const unsigned char* templateA, const unsigned char* templateB, float* similarity) = nullptr;
    int (*getQualityScore)(const unsigned char* raw, unsigned char* score) = nullptr;
  };

  bool loadStandardLibraries();
  void freeStandardLibraries();
  int captureWithChannel(uint8_t* featureTemplate, int* quality, const std::filesystem::path& imagePath,
                         const std::stop_token& stop, int& channel);

  std::unique_ptr<platform::DynamicLibrary> captureLibrary_;
  std::unique_ptr<platform::DynamicLibrary> algorithmLibrary_;
  CaptureApi capture_;
  AlgorithmApi algorithm_;
};

// The device a FingerType selects: 0 the driver library, 1 the standard pair,
// anything else none.
std::unique_ptr<CFingerprintDevice> createFingerprintDevice(int fingerType,
                                                            const std::filesystem::path& programDirectory);

// Whether a single-precision similarity of the standard pair is a match: above the
// double 0.6, so the float nearest 0.6 (0.6000000238...) matches.
bool standardSimilarityMatches(float similarity);

}  // namespace fx60::station
