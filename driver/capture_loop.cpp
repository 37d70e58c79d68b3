#include "driver/capture_loop.h"

#include <cstring>
#include <memory>
#include <new>

#include "driver/algorithm_engine.h"
#include "driver/transport.h"
#include "platform/clock.h"
#include "template/feature_template.h"

namespace fx60 {

namespace {

// Scores a private copy: the quality stage uses its input as working memory.
bool scoreImage(const uint8_t* image, uint8_t& quality) {
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[kImageSize]);
  if (!copy) return false;
  std::memcpy(copy.get(), image, kImageSize);
  quality = algorithmEngine().imageQuality(copy.get());
  return true;
}

}  // namespace

CaptureStatus captureAndExtract(int deviceIndex, int timeoutMs, uint8_t* templateOut, int qualityThreshold) {
  std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[kImageSize]);
  if (!image) return CaptureStatus::NoTemplate;  // no memory for the image: nothing can be extracted

  uint8_t quality = 0;
  int64_t elapsed = -1;  // stays -1 when there is no limit
  const int64_t start = platform::monotonicMs();
  extractArmed().store(1);

  if (timeoutMs < -1) {
    extractArmed().store(0);
    return CaptureStatus::TimedOut;
  }

  CaptureStatus result = CaptureStatus::Done;
  for (;;) {
    platform::pumpOneMessage();
    if (timeoutMs != 0) elapsed = platform::monotonicMs() - start;

    CaptureTransport* transport = SelectTransport();
    result = transport == nullptr ? CaptureStatus::NoModule
                                  : transport->captureImage(deviceIndex, image.get(), timeoutMs, /*waitLift=*/0,
                                                            /*waitForFinger=*/1);
    if (result != CaptureStatus::Done) break;

    if (extractArmed().load() != 0) scoreImage(image.get(), quality);

    if (static_cast<int>(quality) >= qualityThreshold) {
      result = ExtractSealedTemplate(image.get(), templateOut) == 1 ? CaptureStatus::Done : CaptureStatus::NoTemplate;
      break;
    }
    if (elapsed > timeoutMs) break;
  }

  extractArmed().store(0);
  if (elapsed > timeoutMs) result = CaptureStatus::TimedOut;
  return result;
}

}  // namespace fx60
