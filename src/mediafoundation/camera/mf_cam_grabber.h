// The camera grabber: the shared grabber with the video device class, the
// first video stream and a catalogue of CamConfig records.
#pragma once

#include <vector>

#include "mediafoundation/common/capture_grabber.h"

namespace tarsel {

class MFCamGrabber : public CaptureGrabber {
 public:
  static constexpr char kNotInitialized[] = "Cam grabber not initialized";
  static constexpr char kInitUnknown[] = "Unknown exception in WMFCamGrabber_Init";
  static constexpr char kUnknown[] = "Unknown exception in Brevant_Init";

  MFCamGrabber();
  ~MFCamGrabber() override;

  // Copies catalogue entry index into *config. Out of range, only width, height
  // and framesPerSecond are zeroed.
  void GetConfig(int32_t index, CamConfig* config) const;

 protected:
  void ClearFormats() override { formats_.clear(); }
  void AddFormat(IMFMediaType* nativeType) override;
  std::size_t FormatCount() const override { return formats_.size(); }
  void ReleaseDeviceInterfaces() override;

 private:
  std::vector<CamConfig> formats_;
  // The camera property interfaces of the opened source, taken on first use.
  ComPtr<IAMVideoProcAmp> videoProcAmp_;
  ComPtr<IAMCameraControl> cameraControl_;
};

}  // namespace tarsel
