// The encoder behind an MFEncoder_ handle: NV12 pictures to H.264 and 16-bit
// PCM to AAC through a Media Foundation sink writer, into the file the url
// names.
//
// Threads: every picture and audio block is written under one recursive lock,
// so pictures and audio may come from two threads at once. Open and the
// destructor take no lock: the caller ends all writes before Clear.
#pragma once

#include <cstdint>
#include <mutex>

#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/common/media_foundation.h"
#include "mediafoundation/common/mf_runtime.h"
#include "tarsel.h"

namespace tarsel {

class WMFEncoder {
 public:
  static constexpr char kNotInitialized[] = "WMFEncoder not initialized";
  static constexpr char kNullUrl[] = "URL pointer is null";
  static constexpr char kNullSettings[] = "Settings pointer is null";
  static constexpr char kZeroFrameRate[] = "Frame rate must be at least 1";
  static constexpr char kFrameTooLarge[] =
      "Frame size too large: width x height x 4 must stay below 4 GiB";
  static constexpr char kNullPicture[] = "Picture pointer is null";
  static constexpr char kNullByteCount[] = "Byte count pointer is null";
  static constexpr char kPictureTooShort[] =
      "Picture is shorter than an NV12 picture of width x height x 3 / 2 bytes";
  static constexpr char kPictureTooLong[] = "Picture is longer than width x height x 4 bytes";
  static constexpr char kNoAudioStream[] = "The encoder was opened without audio";
  static constexpr char kNullSamples[] = "Audio sample pointer is null";
  static constexpr char kBadTime[] = "Time in seconds is out of range";

  WMFEncoder() = default;
  WMFEncoder(const WMFEncoder&) = delete;
  WMFEncoder& operator=(const WMFEncoder&) = delete;
  // Finishes the file (Finalize) and releases the sink writer and the platform.
  ~WMFEncoder();

  // Opens the sink writer with its video stream and, when settings ask for it,
  // its audio stream. Raises the HRESULT text of the first failing step.
  void Open(const tarsel_char16* url, EncoderSettings* settings);
  // One picture at time (100-ns units).
  void AddVideoFrame(const uint8_t* picture, const uint32_t* byteCount, int64_t time);
  void AddAudioSamples(const void* pcm, const uint32_t* byteCount, int64_t time);

 private:
  void AddVideoStream(const EncoderSettings& settings);
  void AddAudioStream(EncoderSettings& settings);
  void SetVideoOutputAttributes(IMFMediaType* type, const EncoderSettings& settings) const;
  // Wraps bytes into a sample at time, with duration unless negative, and writes it.
  void WriteBytes(DWORD stream, const void* bytes, uint32_t byteCount, DWORD bufferLength,
                  int64_t time, int64_t duration);

  MfRuntime runtime_;  // first: undone last
  std::recursive_mutex writeLock_;
  ComPtr<IMFSinkWriter> sinkWriter_;
  DWORD videoStreamIndex_ = 0;
  DWORD audioStreamIndex_ = 0;
  UINT32 width_ = 0;
  UINT32 height_ = 0;
  UINT64 frameDuration_ = 0;
  bool hasAudio_ = false;
  bool writing_ = false;  // BeginWriting succeeded
};

// 100-ns units for a time in seconds, truncated toward zero; raises kBadTime
// for a time that is not a number or does not fit.
int64_t SecondsToTicks(double seconds);

}  // namespace tarsel
