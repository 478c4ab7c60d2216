// The steps both video writers share: pictures with their own padded buffers,
// the copy of the caller's BGR24 rows and their conversion to the encoder's
// format, the frame rate as a time base, and the encoder drain that times and
// writes packets.
#pragma once

#include <cstdint>

#include "ffmpeg/common/av_ptr.h"

namespace tarsel {

inline constexpr char kCouldNotSendFrame[] = "Could send encode video frame\n";
inline constexpr char kErrorDuringEncoding[] = "Error during encoding\n";
inline constexpr char kCouldNotWritePacket[] = "Could not encode video frame\n";
inline constexpr char kInvalidSize[] = "Invalid picture size";
inline constexpr char kNoPixels[] = "The picture is null";
inline constexpr char kStrideTooSmall[] = "The stride is smaller than a picture row";

// A frame of the given format and size whose picture lies in one buffer of its
// own with padded rows (ffmpeg/common/picture_buffer.h). Raises frameFailure
// when the frame cannot be made and bufferFailure when its buffer cannot.
FramePtr AllocatePicture(AVPixelFormat format, int width, int height, const char* frameFailure,
                         const char* bufferFailure);

// Rejects sizes that are not positive or too large for FFmpeg's pictures.
void CheckPictureSize(int width, int height);

// Rejects a missing picture or a stride shorter than one BGR24 row.
void CheckBgrPicture(const uint8_t* pixels, int stride, int width);

// The caller's BGR24 picture on its way into the encoder's pixel format: its
// rows are first copied into a padded frame of our own, so the conversion never
// reads outside memory we own, then converted with bicubic filtering.
class BgrConverter {
 public:
  // The BGR24 copy of the caller's picture; raises frameFailure or bufferFailure.
  void AllocateSource(int width, int height, const char* frameFailure, const char* bufferFailure);
  // The conversion into target, after AllocateSource; raises scalerFailure.
  void CreateScaler(AVPixelFormat target, const char* scalerFailure);
  // Copies the rows of pixels (stride bytes apart) and converts them into target,
  // which has the source's size and the format given to CreateScaler.
  void Convert(const uint8_t* pixels, int stride, AVFrame* target);

 private:
  ScalerPtr scaler_;
  FramePtr source_;
};

// The frame rate as a time base power/scaled, with power the smallest power of
// ten that brings scaled/power within 0.001 of the rate (not reduced: 29.97
// gives 100/2997). Raises invalidText for a rate that is not finite, not
// positive, or too large or too small to be expressed so in 32 bits.
AVRational TimeBaseForRate(double frameRate, const char* invalidText);

// One encoder feeding one stream of an output file.
struct EncodedStream {
  AVFormatContext* output = nullptr;
  AVCodecContext* encoder = nullptr;
  AVStream* stream = nullptr;
  AVPacket* packet = nullptr;
};

// Sends a picture to the encoder; raises kCouldNotSendFrame.
void SendFrame(AVCodecContext* encoder, AVFrame* frame);

// Packets and bytes handed to the container; both wrap at 2^32.
struct DrainCount {
  uint32_t packets = 0;
  uint32_t bytes = 0;
};

// Writes every packet the encoder has ready, its times rescaled from the
// encoder's time base to the stream's (a video packet without a duration lasts
// one tick of the encoder, which is one frame). Raises kErrorDuringEncoding when
// the encoder fails and kCouldNotWritePacket when the container refuses a packet;
// count covers the packets written before that.
void DrainEncoder(const EncodedStream& target, DrainCount& count);

// At close: ends the encoder's input and writes what it still holds. Stops
// silently at the first failure.
void FlushEncoder(const EncodedStream& target, DrainCount& count) noexcept;

// Writes the container header; raises FFmpeg's text.
void WriteHeader(AVFormatContext* output);

}  // namespace tarsel
