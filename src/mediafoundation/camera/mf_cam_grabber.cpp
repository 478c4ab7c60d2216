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

void MFCamGrabber::ReleaseDeviceInterfaces() {
  videoProcAmp_.Reset();
  cameraControl_.Reset();
}

}  // namespace tarsel
