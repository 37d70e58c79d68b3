// JPEG decoding with the system's imaging component (WIC), so that the Windows
// build of the photo decoder needs no library beyond the system's own.
#include <objbase.h>
#include <wincodec.h>
#include <windows.h>

#include <string>

#include "sim/idcard/photo_block.h"

namespace fx60::idcard {

namespace {

// Releases a COM interface when it goes.
template <typename Interface>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() {
    if (pointer_) pointer_->Release();
  }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;
  Interface** out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

// COM for the calling thread for as long as the object lives; a thread that has
// it already in another mode still works with the factory, so that is no error.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

std::optional<Picture> failed(std::string* error, const std::string& step, HRESULT result) {
  if (error) {
    char code[16];
    wsprintfA(code, "%08lX", static_cast<unsigned long>(result));
    *error = "damaged JPEG data: " + step + " failed (0x" + code + ")";
  }
  return std::nullopt;
}

}  // namespace

std::optional<Picture> decodeJpeg(std::span<const uint8_t> bytes, std::string* error) {
  const ComScope com;
  if (!com.usable()) return failed(error, "starting COM", E_FAIL);
  ComPointer<IWICImagingFactory> factory;
  HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    reinterpret_cast<void**>(factory.out()));
  if (FAILED(result)) return failed(error, "the imaging component", result);

  ComPointer<IWICStream> stream;
  result = factory->CreateStream(stream.out());
  if (SUCCEEDED(result))
    result = stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  if (FAILED(result)) return failed(error, "reading the bytes", result);

  ComPointer<IWICBitmapDecoder> decoder;
  result = factory->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, decoder.out());
  if (SUCCEEDED(result)) result = decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand);
  ComPointer<IWICBitmapFrameDecode> frame;
  if (SUCCEEDED(result)) result = decoder->GetFrame(0, frame.out());
  if (FAILED(result)) return failed(error, "decoding", result);

  UINT width = 0, height = 0;
  result = frame->GetSize(&width, &height);
  if (FAILED(result)) return failed(error, "reading the size", result);
  if (static_cast<size_t>(width) * height > kMaxPicturePixels) {
    if (error) *error = "the picture is too large";
    return std::nullopt;
  }

  // RGB in the picture's byte order: the converter gives blue first, so swap.
  ComPointer<IWICBitmapSource> converted;
  result = WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame.get(), converted.out());
  Picture picture{static_cast<int>(width), static_cast<int>(height),
                  std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  if (SUCCEEDED(result))
    result = converted->CopyPixels(nullptr, width * 3, static_cast<UINT>(picture.rgb.size()), picture.rgb.data());
  if (FAILED(result)) return failed(error, "decoding the pixels", result);
  for (size_t at = 0; at + 2 < picture.rgb.size(); at += 3) std::swap(picture.rgb[at], picture.rgb[at + 2]);
  return picture;
}

}  // namespace fx60::idcard
