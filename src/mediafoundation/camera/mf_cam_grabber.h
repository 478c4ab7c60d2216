// The camera grabber: the shared grabber with the video device class, the
// first video stream and a catalogue of CamConfig records; it starts capture in
// a chosen format, hands out frames by polling or on the ready callback, and
// reads and sets the camera's controls and video properties.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "mediafoundation/common/capture_grabber.h"

namespace tarsel {

// Range, default and current value of one control, as the get exports report
// them. Each out-pointer may be null.
struct ControlReading {
  int32_t* minimum;
  int32_t* maximum;
  int32_t* steppingDelta;
  int32_t* defaultValue;
  int32_t* flags;
  int32_t* value;
};

class MFCamGrabber : public CaptureGrabber {
 public:
  static constexpr char kNotInitialized[] = "Cam grabber not initialized";
  static constexpr char kInitUnknown[] = "Unknown exception in WMFCamGrabber_Init";
  static constexpr char kUnknown[] = "Unknown exception in Brevant_Init";
  static constexpr char kSourceNotActivated[] = "Video source not activated";
  static constexpr char kReaderNotActivated[] = "Video reader not activated";
  // The text names RGB24 whichever subtype was asked for.
  static constexpr char kSubtypeFailed[] =
      "Failed to set video grabber MF_MT_SUBTYPE, MFVideoFormat_RGB24";
  static constexpr char kFrameSizeFailed[] = "Failed to set video grabber attribute, frame size";
  static constexpr char kSetTypeFailed[] = "Failed to set media type on source reader";
  static constexpr char kReadFailed[] = "Error reading video sample";
  static constexpr char kBufferTooSmall[] = "Buffer is to small";
  static constexpr char kLockFailed[] = "Lock buffer failed";
  static constexpr char kNullFrameBuffer[] = "Frame buffer or size pointer is null";
  static constexpr char kNotSupported[] = "Not supported";

  MFCamGrabber();
  ~MFCamGrabber() override;

  // Copies catalogue entry index into *config. Out of range, only width, height
  // and framesPerSecond are zeroed.
  void GetConfig(int32_t index, CamConfig* config) const;

  // Sets the capture type on the first stream and starts grabbing. pixelFormat:
  // 0 NV12, 1 YUY2, 2 I420, anything else NV12; frameRate <= 0 leaves the rate
  // to the camera. A type the camera refuses leaves the previous one in place.
  void StartGrabbing(uint32_t width, uint32_t height, int32_t frameRate, int32_t pixelFormat);
  // Waits for the next frame and copies it into frameBuffer, whose capacity
  // *size gives; *size becomes the frame's length, *timestamp (if given) its
  // time since the first frame the grabber handled. No sample (a gap in the
  // stream) writes nothing.
  void GrabFrame(uint8_t* frameBuffer, uint32_t* size, int64_t* timestamp);

  // The camera control and video property interfaces of the opened source.
  // The first call for an interface only obtains it and changes nothing.
  void GetCamCtrl(int32_t property, const ControlReading& reading);
  void SetCamCtrl(int32_t property, int32_t flags, int32_t value);
  void GetVideoProp(int32_t property, const ControlReading& reading);
  void SetVideoProp(int32_t property, int32_t flags, int32_t value);
  // Obtains the camera control interface, or reads one property through it;
  // reports nothing.
  void Test();

 protected:
  void ClearFormats() override { formats_.clear(); }
  void AddFormat(IMFMediaType* nativeType) override;
  std::size_t FormatCount() const override { return formats_.size(); }
  void ProcessSample(IMFSample* sample, LONGLONG timestamp) override;
  void ReleaseDeviceInterfaces() override;

 private:
  // The reader of the opened camera; raises when there is none.
  IMFSourceReader& Reader() const;
  // The time of a frame relative to the first frame the grabber handled.
  LONGLONG SinceFirstFrame(LONGLONG timestamp);

  std::vector<CamConfig> formats_;
  // The camera property interfaces of the opened source, taken on first use.
  ComPtr<IAMVideoProcAmp> videoProcAmp_;
  ComPtr<IAMCameraControl> cameraControl_;
  // The first frame read or delivered; polled frames count their times from it.
  std::mutex firstSampleMutex_;
  bool isFirstSample_ = true;
  LONGLONG firstTimestamp_ = 0;
};

}  // namespace tarsel
