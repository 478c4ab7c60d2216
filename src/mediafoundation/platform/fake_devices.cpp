// The fake cameras and microphone. A camera delivers frames at its current
// frame rate (30/1 when none was set); frame n is a pattern that moves with n
// and carries n as a little-endian 32-bit number in its first four bytes. The
// microphone delivers 10 ms blocks of a 440 Hz sine at half of full scale.
#include "mediafoundation/platform/fake_devices.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace tarsel::platform {

namespace {

struct Size {
  UINT32 width;
  UINT32 height;
};

UINT64 Pack(UINT32 high, UINT32 low) { return UINT64{high} << 32 | low; }
UINT32 High(UINT64 value) { return static_cast<UINT32>(value >> 32); }
UINT32 Low(UINT64 value) { return static_cast<UINT32>(value); }

// ------------------------------------------------------------ cameras

struct VideoFormat {
  GUID subtype;
  Size size;
  UINT32 maxRate;  // frames a second; 0: the format states no frame-rate range
};

DWORD FrameSize(const GUID& subtype, Size size) {
  const DWORD luma = size.width * size.height;
  const DWORD chromaWidth = (size.width + 1) / 2;
  const DWORD chromaHeight = (size.height + 1) / 2;
  if (subtype == MFVideoFormat_YUY2) return chromaWidth * 4 * size.height;
  if (subtype == MFVideoFormat_RGB24) return luma * 3;
  return luma + 2 * chromaWidth * chromaHeight;  // NV12, I420
}

DWORD RowStride(const GUID& subtype, UINT32 width) {
  if (subtype == MFVideoFormat_YUY2) return (width + 1) / 2 * 4;
  if (subtype == MFVideoFormat_RGB24) return width * 3;
  return width;
}

ComPtr<IMFMediaType> MakeVideoType(const VideoFormat& format) {
  ComPtr<IMFMediaType> type;
  MFCreateMediaType(type.Put());
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, format.subtype);
  type->SetUINT64(MF_MT_FRAME_SIZE, Pack(format.size.width, format.size.height));
  if (format.maxRate > 0) {
    type->SetUINT64(MF_MT_FRAME_RATE, Pack(format.maxRate, 1));
    type->SetUINT64(MF_MT_FRAME_RATE_RANGE_MAX, Pack(format.maxRate, 1));
  }
  type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, Pack(1, 1));
  type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
  type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, 1);
  type->SetUINT32(MF_MT_SAMPLE_SIZE, FrameSize(format.subtype, format.size));
  type->SetUINT32(MF_MT_DEFAULT_STRIDE, RowStride(format.subtype, format.size.width));
  return type;
}

bool IsCaptureSubtype(const GUID& subtype) {
  return subtype == MFVideoFormat_NV12 || subtype == MFVideoFormat_YUY2 ||
         subtype == MFVideoFormat_I420;
}

// The frame pattern: luma runs diagonally and moves three steps a frame; the
// chroma planes move the other way.
BYTE LumaAt(UINT32 x, UINT32 y, UINT64 n) { return static_cast<BYTE>(x + y + 3 * n); }
BYTE BlueAt(UINT32 x, UINT32, UINT64 n) { return static_cast<BYTE>(2 * x - n); }
BYTE RedAt(UINT32, UINT32 y, UINT64 n) { return static_cast<BYTE>(2 * y - 2 * n); }

void FillPlanarFrame(Size size, UINT64 n, bool interleavedChroma, BYTE* bytes) {
  for (UINT32 y = 0; y < size.height; ++y) {
    for (UINT32 x = 0; x < size.width; ++x) *bytes++ = LumaAt(x, y, n);
  }
  const UINT32 chromaWidth = (size.width + 1) / 2;
  const UINT32 chromaHeight = (size.height + 1) / 2;
  BYTE* blue = bytes;
  BYTE* red = interleavedChroma ? bytes + 1 : bytes + chromaWidth * chromaHeight;
  const int step = interleavedChroma ? 2 : 1;
  for (UINT32 y = 0; y < chromaHeight; ++y) {
    for (UINT32 x = 0; x < chromaWidth; ++x) {
      *blue = BlueAt(x, y, n);
      *red = RedAt(x, y, n);
      blue += step;
      red += step;
    }
  }
}

void FillPackedFrame(const GUID& subtype, Size size, UINT64 n, BYTE* bytes) {
  for (UINT32 y = 0; y < size.height; ++y) {
    if (subtype == MFVideoFormat_RGB24) {
      for (UINT32 x = 0; x < size.width; ++x) {
        *bytes++ = BlueAt(x, y, n);
        *bytes++ = LumaAt(x, y, n);
        *bytes++ = RedAt(x, y, n);
      }
      continue;
    }
    for (UINT32 x = 0; x < size.width; x += 2) {  // YUY2: Y0 U Y1 V
      *bytes++ = LumaAt(x, y, n);
      *bytes++ = BlueAt(x / 2, y, n);
      *bytes++ = LumaAt(x + 1, y, n);
      *bytes++ = RedAt(x / 2, y, n);
    }
  }
}

class FakeCamera final : public PacedStream {
 public:
  FakeCamera(std::vector<VideoFormat> formats, bool withControls)
      : PacedStream(MFMediaType_Video, MakeTypes(formats)), formats_(std::move(formats)) {
    if (withControls) {
      cameraControl_.emplace(std::vector<ControlProperty>{
          {CameraControl_Pan, -180, 180, 1, 0, 3, 0, 2},
          {CameraControl_Tilt, -180, 180, 1, 0, 3, 0, 2},
          {CameraControl_Zoom, 100, 400, 10, 100, 3, 100, 2},
          {CameraControl_Exposure, -11, -2, 1, -6, 3, -6, 2},
          {CameraControl_Focus, 0, 255, 5, 0, 3, 0, 2},
      });
      videoProcAmp_.emplace(std::vector<ControlProperty>{
          {VideoProcAmp_Brightness, -64, 64, 1, 0, 3, 0, 2},
          {VideoProcAmp_Contrast, 0, 100, 1, 50, 3, 50, 2},
          {VideoProcAmp_Saturation, 0, 100, 1, 64, 3, 64, 2},
          {VideoProcAmp_Gain, 0, 100, 1, 0, 3, 0, 2},
      });
    }
  }

  PropertySet* CameraControls() override { return cameraControl_ ? &*cameraControl_ : nullptr; }
  PropertySet* VideoProcAmp() override { return videoProcAmp_ ? &*videoProcAmp_ : nullptr; }

 protected:
  Rate SampleRate(IMFMediaType* current) const override {
    UINT64 rate = 0;
    if (SUCCEEDED(current->GetUINT64(MF_MT_FRAME_RATE, &rate)) && High(rate) && Low(rate)) {
      return {High(rate), Low(rate)};
    }
    return {30, 1};
  }

  // NV12, YUY2 or I420 at a listed size, with no frame rate or one up to that
  // size's maximum (any rate where the size states no maximum).
  bool Accepts(IMFMediaType* type) const override {
    GUID major{}, subtype{};
    if (SUCCEEDED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) && major != MFMediaType_Video) {
      return false;
    }
    if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || !IsCaptureSubtype(subtype)) {
      return false;
    }
    UINT64 packedSize = 0;
    if (FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &packedSize))) return false;
    bool sizeListed = false;
    UINT32 maxRate = 0;
    for (const auto& format : formats_) {
      if (format.size.width != High(packedSize) || format.size.height != Low(packedSize)) continue;
      sizeListed = true;
      maxRate = std::max(maxRate, format.maxRate);
    }
    if (!sizeListed) return false;
    UINT64 rate = 0;
    if (FAILED(type->GetUINT64(MF_MT_FRAME_RATE, &rate))) return true;
    if (High(rate) == 0 || Low(rate) == 0) return false;
    return maxRate == 0 || UINT64{High(rate)} <= UINT64{maxRate} * Low(rate);
  }

  DWORD SampleSize(IMFMediaType* current) const override {
    auto [subtype, size] = Describe(current);
    return FrameSize(subtype, size);
  }

  void FillSample(IMFMediaType* current, UINT64 index, BYTE* bytes) const override {
    auto [subtype, size] = Describe(current);
    if (subtype == MFVideoFormat_NV12 || subtype == MFVideoFormat_I420) {
      FillPlanarFrame(size, index, subtype == MFVideoFormat_NV12, bytes);
    } else {
      FillPackedFrame(subtype, size, index, bytes);
    }
    const DWORD length = FrameSize(subtype, size);
    for (DWORD k = 0; k < 4 && k < length; ++k) bytes[k] = static_cast<BYTE>(index >> (8 * k));
  }

 private:
  static std::vector<ComPtr<IMFMediaType>> MakeTypes(const std::vector<VideoFormat>& formats) {
    std::vector<ComPtr<IMFMediaType>> types;
    for (const auto& format : formats) types.push_back(MakeVideoType(format));
    return types;
  }
  static std::pair<GUID, Size> Describe(IMFMediaType* type) {
    GUID subtype = MFVideoFormat_NV12;
    UINT64 size = 0;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    type->GetUINT64(MF_MT_FRAME_SIZE, &size);
    return {subtype, {High(size), Low(size)}};
  }

  const std::vector<VideoFormat> formats_;
  std::optional<PropertySet> cameraControl_;
  std::optional<PropertySet> videoProcAmp_;
};

// ------------------------------------------------------------ microphone

struct AudioFormat {
  GUID subtype;
  UINT32 bitsPerSample;
  UINT32 channels;
  UINT32 samplesPerSecond;
  UINT32 BlockAlignment() const { return bitsPerSample / 8 * channels; }
};

constexpr UINT32 kBlocksPerSecond = 100;  // 10 ms blocks
constexpr double kToneHz = 440.0;
constexpr double kPi = 3.14159265358979323846;

ComPtr<IMFMediaType> MakeAudioType(const AudioFormat& format) {
  ComPtr<IMFMediaType> type;
  MFCreateMediaType(type.Put());
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
  type->SetGUID(MF_MT_SUBTYPE, format.subtype);
  type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, format.channels);
  type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, format.samplesPerSecond);
  type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, format.bitsPerSample);
  type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, format.BlockAlignment());
  type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND,
                  format.BlockAlignment() * format.samplesPerSecond);
  type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
  return type;
}

AudioFormat DescribeAudio(IMFMediaType* type) {
  AudioFormat format{MFAudioFormat_PCM, 16, 2, 48000};
  type->GetGUID(MF_MT_SUBTYPE, &format.subtype);
  type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &format.bitsPerSample);
  type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &format.channels);
  type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &format.samplesPerSecond);
  return format;
}

class FakeMicrophone final : public PacedStream {
 public:
  explicit FakeMicrophone(std::vector<AudioFormat> formats)
      : PacedStream(MFMediaType_Audio, MakeTypes(formats)), formats_(std::move(formats)) {}

 protected:
  Rate SampleRate(IMFMediaType*) const override { return {kBlocksPerSecond, 1}; }

  // One of the native formats; alignment and byte rate, where given, must fit it.
  bool Accepts(IMFMediaType* type) const override {
    GUID major{};
    if (SUCCEEDED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) && major != MFMediaType_Audio) {
      return false;
    }
    GUID subtype{};
    UINT32 bits = 0, channels = 0, rate = 0;
    if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) ||
        FAILED(type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits)) ||
        FAILED(type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels)) ||
        FAILED(type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate))) {
      return false;
    }
    for (const auto& format : formats_) {
      if (format.subtype != subtype || format.bitsPerSample != bits ||
          format.channels != channels || format.samplesPerSecond != rate) {
        continue;
      }
      UINT32 value = 0;
      if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &value)) &&
          value != format.BlockAlignment()) {
        return false;
      }
      if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, &value)) &&
          value != format.BlockAlignment() * format.samplesPerSecond) {
        return false;
      }
      return true;
    }
    return false;
  }

  DWORD SampleSize(IMFMediaType* current) const override {
    const AudioFormat format = DescribeAudio(current);
    return format.samplesPerSecond / kBlocksPerSecond * format.BlockAlignment();
  }

  void FillSample(IMFMediaType* current, UINT64 index, BYTE* bytes) const override {
    const AudioFormat format = DescribeAudio(current);
    const UINT32 frames = format.samplesPerSecond / kBlocksPerSecond;
    const bool isFloat = format.subtype == MFAudioFormat_Float;
    for (UINT32 f = 0; f < frames; ++f) {
      // The tone repeats every second, so the phase is taken within the second.
      const UINT64 position = (index * frames + f) % format.samplesPerSecond;
      const double value = 0.5 * std::sin(2 * kPi * kToneHz * position / format.samplesPerSecond);
      for (UINT32 c = 0; c < format.channels; ++c) {
        if (isFloat) {
          const float sample = static_cast<float>(value);
          std::memcpy(bytes, &sample, sizeof sample);
          bytes += sizeof sample;
        } else {
          const auto sample = static_cast<std::int16_t>(std::lround(value * 32768.0));
          bytes[0] = static_cast<BYTE>(sample);
          bytes[1] = static_cast<BYTE>(static_cast<std::uint16_t>(sample) >> 8);
          bytes += 2;
        }
      }
    }
  }

 private:
  static std::vector<ComPtr<IMFMediaType>> MakeTypes(const std::vector<AudioFormat>& formats) {
    std::vector<ComPtr<IMFMediaType>> types;
    for (const auto& format : formats) types.push_back(MakeAudioType(format));
    return types;
  }

  const std::vector<AudioFormat> formats_;
};

}  // namespace

std::shared_ptr<CaptureStream> OpenVirtualCamera() {
  return std::make_shared<FakeCamera>(
      std::vector<VideoFormat>{
          {MFVideoFormat_NV12, {640, 480}, 30},
          {MFVideoFormat_YUY2, {640, 480}, 30},
          {MFVideoFormat_I420, {640, 480}, 30},
          {MFVideoFormat_NV12, {1280, 720}, 30},
          {MFVideoFormat_NV12, {320, 240}, 60},
          {MFVideoFormat_RGB24, {160, 120}, 0},
      },
      true);
}

std::shared_ptr<CaptureStream> OpenSecondCamera() {
  return std::make_shared<FakeCamera>(
      std::vector<VideoFormat>{{MFVideoFormat_NV12, {320, 240}, 30}}, false);
}

std::shared_ptr<CaptureStream> OpenVirtualMicrophone() {
  return std::make_shared<FakeMicrophone>(std::vector<AudioFormat>{
      {MFAudioFormat_PCM, 16, 2, 48000},
      {MFAudioFormat_Float, 32, 2, 48000},
      {MFAudioFormat_PCM, 16, 1, 16000},
  });
}

bool FakeDeviceProvider::Enabled() {
  const char* setting = std::getenv("TARSEL_FAKE_DEVICES");
  return setting && std::strcmp(setting, "1") == 0;
}

std::vector<DeviceEntry> FakeDeviceProvider::ListDevices(const GUID& sourceType) const {
  if (!Enabled()) return {};
  if (sourceType == MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID) {
    return {
        {u"Tarsel Virtual Camera", u"tarsel-fake://camera/0", OpenVirtualCamera},
        {u"Tarsel Cam\u00E9ra \u4E2D", u"tarsel-fake://camera/1", OpenSecondCamera},
    };
  }
  if (sourceType == MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID) {
    return {{u"Tarsel Virtual Microphone", u"tarsel-fake://microphone/0", OpenVirtualMicrophone}};
  }
  return {};
}

}  // namespace tarsel::platform
