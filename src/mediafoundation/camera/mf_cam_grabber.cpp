#include "mediafoundation/camera/mf_cam_grabber.h"

#include <cstring>
#include <limits>

namespace tarsel {

namespace {

// The quotient of two frame-rate terms; 0/0 is a NaN, as a division would give.
double Quotient(uint32_t numerator, uint32_t denominator) {
  if (denominator == 0) {
    return numerator == 0 ? std::numeric_limits<double>::quiet_NaN()
                          : std::numeric_limits<double>::infinity();
  }
  return static_cast<double>(numerator) / static_cast<double>(denominator);
}

UINT64 Pack(UINT32 high, UINT32 low) { return UINT64{high} << 32 | low; }

const GUID& SubtypeOf(int32_t pixelFormat) {
  switch (pixelFormat) {
    case 1:
      return MFVideoFormat_YUY2;
    case 2:
      return MFVideoFormat_I420;
    default:
      return MFVideoFormat_NV12;
  }
}

// 90 and 120 frames a second go as the exact ratios cameras list for them.
UINT64 FrameRateOf(int32_t frameRate) {
  if (frameRate == 90) return Pack(10'000'000, 111'111);
  if (frameRate == 120) return Pack(10'000'000, 83'333);
  return Pack(static_cast<UINT32>(frameRate), 1);
}

// The property that the self-test reads through the camera control interface.
constexpr LONG kProbedProperty = 18;

void Store(int32_t* out, LONG value) {
  if (out) *out = static_cast<int32_t>(value);
}

// Obtains a control interface of source into field once. True when it was held
// already, so the operation goes ahead; false when this call obtained it.
template <class Interface>
bool Held(IMFMediaSource* source, REFIID iid, ComPtr<Interface>& field) {
  if (!source) throw Message(MFCamGrabber::kSourceNotActivated);
  if (field) return true;
  if (FAILED(source->QueryInterface(iid, reinterpret_cast<void**>(field.Put())))) {
    field.Reset();  // asked again on the next call
    throw Message(MFCamGrabber::kNotSupported);
  }
  return false;
}

// Range first, then the current value: the flags reported are the current ones
// from Get, replacing the capability flags of the range.
template <class Interface>
void ReadControl(Interface& control, int32_t property, const ControlReading& reading) {
  LONG minimum = 0, maximum = 0, step = 0, defaultValue = 0, flags = 0, value = 0;
  if (FAILED(control.GetRange(property, &minimum, &maximum, &step, &defaultValue, &flags))) {
    throw Message(MFCamGrabber::kNotSupported);
  }
  Store(reading.minimum, minimum);
  Store(reading.maximum, maximum);
  Store(reading.steppingDelta, step);
  Store(reading.defaultValue, defaultValue);
  Store(reading.flags, flags);
  if (FAILED(control.Get(property, &value, &flags))) throw Message(MFCamGrabber::kNotSupported);
  Store(reading.flags, flags);
  Store(reading.value, value);
}

template <class Interface>
void WriteControl(Interface& control, int32_t property, int32_t flags, int32_t value) {
  if (FAILED(control.Set(property, value, flags))) throw Message(MFCamGrabber::kNotSupported);
}

}  // namespace

MFCamGrabber::MFCamGrabber()
    : CaptureGrabber(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID,
                     MF_SOURCE_READER_FIRST_VIDEO_STREAM, false) {}

MFCamGrabber::~MFCamGrabber() { Close(); }

void MFCamGrabber::AddFormat(IMFMediaType* nativeType) {
  CamConfig config{};
  UINT64 packed = 0;
  if (SUCCEEDED(nativeType->GetUINT64(MF_MT_FRAME_RATE_RANGE_MAX, &packed))) {
    config.frameRateNumerator = static_cast<uint32_t>(packed >> 32);
    config.frameRateDenominator = static_cast<uint32_t>(packed);
  }
  if (SUCCEEDED(nativeType->GetUINT64(MF_MT_FRAME_SIZE, &packed))) {
    config.width = static_cast<uint32_t>(packed >> 32);
    config.height = static_cast<uint32_t>(packed);
  }
  GUID subtype{};  // a type without a subtype is listed with the null GUID
  nativeType->GetGUID(MF_MT_SUBTYPE, &subtype);
  static_assert(sizeof(subtype) == sizeof(config.subtype), "GUIDs share one layout");
  std::memcpy(&config.subtype, &subtype, sizeof subtype);
  config.framesPerSecond = Quotient(config.frameRateNumerator, config.frameRateDenominator);
  formats_.push_back(config);
}

void MFCamGrabber::GetConfig(int32_t index, CamConfig* config) const {
  if (!config) throw Message(kNullConfig);
  if (index >= 0 && static_cast<std::size_t>(index) < formats_.size()) {
    *config = formats_[index];
    return;
  }
  config->width = 0;
  config->height = 0;
  config->framesPerSecond = 0.0;
}

IMFSourceReader& MFCamGrabber::Reader() const {
  if (!MediaSource()) throw Message(kSourceNotActivated);
  if (!SourceReader()) throw Message(kReaderNotActivated);
  return *SourceReader();
}

void MFCamGrabber::StartGrabbing(uint32_t width, uint32_t height, int32_t frameRate,
                                 int32_t pixelFormat) {
  IMFSourceReader& reader = Reader();
  ComPtr<IMFMediaType> type;
  // Without a type nothing can be set: the subtype is the first step to fail.
  if (FAILED(MFCreateMediaType(type.Put()))) throw Message(kSubtypeFailed);
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  if (FAILED(type->SetGUID(MF_MT_SUBTYPE, SubtypeOf(pixelFormat)))) throw Message(kSubtypeFailed);
  if (FAILED(type->SetUINT64(MF_MT_FRAME_SIZE, Pack(width, height)))) {
    throw Message(kFrameSizeFailed);
  }
  if (frameRate > 0) type->SetUINT64(MF_MT_FRAME_RATE, FrameRateOf(frameRate));
  // Stream index 0, the source's first stream.
  if (FAILED(reader.SetCurrentMediaType(0, nullptr, type.Get()))) throw Message(kSetTypeFailed);
  BeginGrabbing();
}

void MFCamGrabber::GrabFrame(uint8_t* frameBuffer, uint32_t* size, int64_t* timestamp) {
  IMFSourceReader& reader = Reader();
  if (!frameBuffer || !size) throw Message(kNullFrameBuffer);
  DWORD streamIndex = 0, streamFlags = 0;
  LONGLONG sampleTime = 0;
  ComPtr<IMFSample> sample;
  // A reader that delivers through the callback refuses this read.
  if (FAILED(reader.ReadSample(MF_SOURCE_READER_ANY_STREAM, 0, &streamIndex, &streamFlags,
                               &sampleTime, sample.Put()))) {
    throw Message(kReadFailed);
  }
  if (!sample) return;  // a stream tick or gap: no frame this time
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample->ConvertToContiguousBuffer(buffer.Put()))) throw Message(kConvertFailed);
  DWORD length = 0;
  if (FAILED(buffer->GetCurrentLength(&length))) throw Message(kLengthFailed);
  if (*size < length) throw Message(kBufferTooSmall);
  BYTE* bytes = nullptr;
  if (FAILED(buffer->Lock(&bytes, nullptr, nullptr))) throw Message(kLockFailed);
  std::memcpy(frameBuffer, bytes, length);
  buffer->Unlock();
  *size = length;
  const LONGLONG time = SinceFirstFrame(sampleTime);
  if (timestamp) *timestamp = time;
}

void MFCamGrabber::ProcessSample(IMFSample* sample, LONGLONG timestamp) {
  CaptureGrabber::ProcessSample(sample, timestamp);
  SinceFirstFrame(timestamp);  // a delivered frame can be the first one handled
}

LONGLONG MFCamGrabber::SinceFirstFrame(LONGLONG timestamp) {
  std::lock_guard lock(firstSampleMutex_);
  if (isFirstSample_) {
    firstTimestamp_ = timestamp;
    isFirstSample_ = false;
  }
  return timestamp - firstTimestamp_;
}

void MFCamGrabber::GetCamCtrl(int32_t property, const ControlReading& reading) {
  if (Held(MediaSource(), IID_IAMCameraControl, cameraControl_)) {
    ReadControl(*cameraControl_.Get(), property, reading);
  }
}

void MFCamGrabber::SetCamCtrl(int32_t property, int32_t flags, int32_t value) {
  if (Held(MediaSource(), IID_IAMCameraControl, cameraControl_)) {
    WriteControl(*cameraControl_.Get(), property, flags, value);
  }
}

void MFCamGrabber::GetVideoProp(int32_t property, const ControlReading& reading) {
  if (Held(MediaSource(), IID_IAMVideoProcAmp, videoProcAmp_)) {
    ReadControl(*videoProcAmp_.Get(), property, reading);
  }
}

void MFCamGrabber::SetVideoProp(int32_t property, int32_t flags, int32_t value) {
  if (Held(MediaSource(), IID_IAMVideoProcAmp, videoProcAmp_)) {
    WriteControl(*videoProcAmp_.Get(), property, flags, value);
  }
}

void MFCamGrabber::Test() {
  if (!MediaSource()) return;
  if (!cameraControl_) {
    MediaSource()->QueryInterface(IID_IAMCameraControl,
                                  reinterpret_cast<void**>(cameraControl_.Put()));
    return;
  }
  LONG minimum = 0, maximum = 0, step = 0, defaultValue = 0, flags = 0, value = 0;
  if (SUCCEEDED(cameraControl_->GetRange(kProbedProperty, &minimum, &maximum, &step, &defaultValue,
                                         &flags))) {
    cameraControl_->Get(kProbedProperty, &value, &flags);
  }
}

void MFCamGrabber::ReleaseDeviceInterfaces() {
  videoProcAmp_.Reset();
  cameraControl_.Reset();
}

}  // namespace tarsel
