#include <vector>

#include "fx60link.h"
#include "station/dib_image.h"
#include "station/fingerprint_device.h"

namespace fx60::station {

namespace {

constexpr int kDeviceIndex = 0;
constexpr int kNoTimeLimit = 0;
constexpr size_t kImageBufferBytes = 92416;  // one image and some spare

}  // namespace

int CDriverFingerprintDevice::getImageSize(int& width, int& height) {
  width = kImageWidth;
  height = kImageHeight;
  return kDeviceDone;
}

int CDriverFingerprintDevice::captureTemplate(uint8_t* featureTemplate, int* /*quality*/,
                                              const std::filesystem::path& imagePath, std::stop_token stop) {
  if (featureTemplate == nullptr) return kDeviceBadArgument;
  std::fill_n(featureTemplate, kTemplateBytes, 0);
  if (zzExtractFingerprint(kDeviceIndex, kNoTimeLimit, featureTemplate, kCaptureQualityThreshold, 0) != 0)
    return kDeviceFailed;
  if (imagePath.empty()) return kDeviceDone;
  if (stop.stop_requested()) return kDeviceFailed;

  // A second capture, after the finger was lifted, provides the image shown.
  std::vector<uint8_t> image(kImageBufferBytes, 0);
  if (zzCaptureFingerprint(kDeviceIndex, image.data(), kNoTimeLimit, 1) != 0) return kDeviceFailed;
  const int saved = saveGrayBmp(kImageWidth, kImageHeight, image.data(), imagePath);
  return saved == 0 ? kDeviceDone : saved == 1 ? kDeviceBadArgument : kDeviceFailed;
}

int CDriverFingerprintDevice::compareTemplates(const uint8_t* templateA, const uint8_t* templateB, int level) {
  if (templateA == nullptr || templateB == nullptr) return kDeviceBadArgument;
  return zzMatchFingerprint(templateA, templateB, level) == 0 ? kDeviceDone : kDeviceFailed;
}

void CDriverFingerprintDevice::interruptCapture() { zzCancelCapture(kDeviceIndex); }

std::unique_ptr<CFingerprintDevice> createFingerprintDevice(int fingerType,
                                                            const std::filesystem::path& programDirectory) {
  switch (fingerType) {
    case 0:
      return std::make_unique<CDriverFingerprintDevice>(programDirectory);
    case 1:
      return std::make_unique<CStandardFingerprintDevice>(programDirectory);
    default:
      return nullptr;
  }
}

}  // namespace fx60::station
