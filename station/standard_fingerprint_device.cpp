#include <cstdio>
#include <vector>

#include "station/fingerprint_device.h"
#include "station/stop_wait.h"

namespace fx60::station {

namespace {

constexpr size_t kRawImageBytes = 92416;     // 256 x 360 and 256 spare
constexpr size_t kBitmapBufferBytes = 93494;
constexpr size_t kSavedBitmapBytes = 93238;  // header, 256-entry palette, 92160 pixels
constexpr int kDone = 1;
constexpr auto kPollPause = std::chrono::milliseconds(100);
constexpr double kSimilarityThreshold = 0.6;

}  // namespace

bool standardSimilarityMatches(float similarity) { return static_cast<double>(similarity) > kSimilarityThreshold; }

CStandardFingerprintDevice::~CStandardFingerprintDevice() { freeStandardLibraries(); }

void CStandardFingerprintDevice::freeStandardLibraries() {
  captureLibrary_.reset();
  algorithmLibrary_.reset();
  capture_ = CaptureApi{};
  algorithm_ = AlgorithmApi{};
}

bool CStandardFingerprintDevice::loadStandardLibraries() {
  if (!captureLibrary_) {
    captureLibrary_ =
        platform::DynamicLibrary::load((programDirectory() / platform::sharedLibraryFileName("ID_FprCap.dll")).string());
    if (!captureLibrary_) return false;
    const auto& library = *captureLibrary_;
    const bool bound = library.bind("LIVESCAN_Init", capture_.init) && library.bind("LIVESCAN_Close", capture_.close) &&
                       library.bind("LIVESCAN_GetChannelCount", capture_.getChannelCount) &&
                       library.bind("LIVESCAN_BeginCapture", capture_.beginCapture) &&
                       library.bind("LIVESCAN_GetFPRawData", capture_.getRawData) &&
                       library.bind("LIVESCAN_EndCapture", capture_.endCapture) &&
                       library.bind("LIVESCAN_GetErrorInfo", capture_.getErrorInfo) &&
                       library.bind("LIVESCAN_GetFPBmpData", capture_.getBmpData) &&
                       library.bind("LIVESCAN_SetCaptWindow", capture_.setCaptureWindow);
    if (!bound) {
      freeStandardLibraries();
      return false;
    }
  }
  if (!algorithmLibrary_) {
    algorithmLibrary_ =
        platform::DynamicLibrary::load((programDirectory() / platform::sharedLibraryFileName("ID_Fpr.dll")).string());
    if (!algorithmLibrary_) return false;
    const auto& library = *algorithmLibrary_;
    const bool bound = library.bind("FP_End", algorithm_.end) && library.bind("FP_Begin", algorithm_.begin) &&
                       library.bind("FP_FeatureExtract", algorithm_.featureExtract) &&
                       library.bind("FP_FeatureMatch", algorithm_.featureMatch) &&
                       library.bind("FP_GetQualityScore", algorithm_.getQualityScore);
    if (!bound) {
      freeStandardLibraries();
      return false;
    }
  }
  return true;
}

int CStandardFingerprintDevice::getImageSize(int& width, int& height) {
  if (!loadStandardLibraries()) return kDeviceLibraryMissing;
  int status = kDeviceFailed;
  if (capture_.init() == kDone) {
    const int channel = capture_.getChannelCount();
    if (channel >= 0 && capture_.setCaptureWindow(channel, 0, 0, kImageWidth, kImageHeight) == kDone) {
      width = kImageWidth;
      height = kImageHeight;
      status = kDeviceDone;
    }
  }
  capture_.close();
  return status;
}

int CStandardFingerprintDevice::captureTemplate(uint8_t* featureTemplate, int* quality,
                                                const std::filesystem::path& imagePath, std::stop_token stop) {
  if (featureTemplate == nullptr || quality == nullptr) return kDeviceBadArgument;
  if (!loadStandardLibraries()) return kDeviceLibraryMissing;
  int channel = -1;  // until the library has told it
  const int status = captureWithChannel(featureTemplate, quality, imagePath, stop, channel);
  capture_.endCapture(channel);
  capture_.close();
  return status;
}

int CStandardFingerprintDevice::captureWithChannel(uint8_t* featureTemplate, int* quality,
                                                   const std::filesystem::path& imagePath,
                                                   const std::stop_token& stop, int& channel) {
  if (capture_.init() != kDone) return kDeviceFailed;
  channel = capture_.getChannelCount();
  if (channel < 0 || capture_.beginCapture(channel) != kDone) return kDeviceFailed;

  std::vector<uint8_t> raw(kRawImageBytes, 0);
  std::vector<uint8_t> bitmap(kBitmapBufferBytes, 0);
  if (capture_.getRawData(channel, raw.data()) != kDone) return kDeviceFailed;

  // Wait for a good finger; the bitmap is fetched in the same pass as the image
  // whose template is kept.
  unsigned char score = 0;
  for (;;) {
    std::fill(bitmap.begin(), bitmap.end(), 0);
    if (capture_.getBmpData(channel, bitmap.data()) != kDone || algorithm_.getQualityScore(raw.data(), &score) != kDone)
      return kDeviceFailed;
    if (score >= kCaptureQualityThreshold) break;
    if (!pauseUnlessStopped(stop, kPollPause)) return kDeviceFailed;
    std::fill(raw.begin(), raw.end(), 0);
    if (capture_.getRawData(channel, raw.data()) != kDone) return kDeviceFailed;
  }
  *quality = score;

  // Wait for the finger to be lifted.
  std::vector<uint8_t> lifted(kRawImageBytes, 0);
  if (capture_.getRawData(channel, lifted.data()) != kDone) return kDeviceFailed;
  for (;;) {
    unsigned char liftedScore = 0;
    if (algorithm_.getQualityScore(lifted.data(), &liftedScore) != kDone) return kDeviceFailed;
    if (liftedScore < kCaptureQualityThreshold) break;
    if (!pauseUnlessStopped(stop, kPollPause)) return kDeviceFailed;
    std::fill(lifted.begin(), lifted.end(), 0);
    if (capture_.getRawData(channel, lifted.data()) != kDone) return kDeviceFailed;
  }

  std::fill_n(featureTemplate, kTemplateBytes, 0);
  if (algorithm_.featureExtract(0, 16, raw.data(), featureTemplate) != kDone) return kDeviceFailed;

  if (!imagePath.empty()) {
    // An image file that cannot be written is not a failed capture.
    if (std::FILE* file = std::fopen(imagePath.string().c_str(), "wb")) {
      std::fwrite(bitmap.data(), 1, kSavedBitmapBytes, file);
      std::fclose(file);
    }
  }
  return kDeviceDone;
}

int CStandardFingerprintDevice::compareTemplates(const uint8_t* templateA, const uint8_t* templateB, int /*level*/) {
  if (templateA == nullptr || templateB == nullptr) return kDeviceBadArgument;
  if (!loadStandardLibraries()) return kDeviceLibraryMissing;
  float similarity = 0.0f;
  const bool matched = algorithm_.begin() == kDone &&
                       algorithm_.featureMatch(templateA, templateB, &similarity) == kDone &&
                       standardSimilarityMatches(similarity);
  algorithm_.end();
  return matched ? kDeviceDone : kDeviceFailed;
}

}  // namespace fx60::station
