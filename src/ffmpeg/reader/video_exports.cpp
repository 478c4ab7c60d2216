// The VIDEO_ exports: thin shells over VideoReader.
#include "common/boundary.h"
#include "ffmpeg/common/network.h"
#include "ffmpeg/reader/video_reader.h"
#include "tarsel.h"

using tarsel::ClearErrorText;
using tarsel::GuardMessages;
using tarsel::Live;
using tarsel::VideoReader;

namespace {

constexpr char kUnknownInit[] = "Unknown exception in VIDEO_Init";

void WritePosition(const VideoReader& reader, uint32_t* frameIndex, double* frameTime,
                   double* frameTimeAgain) {
  if (frameIndex) *frameIndex = static_cast<uint32_t>(reader.frameIndex());
  if (frameTime) *frameTime = reader.frameTime();
  if (frameTimeAgain) *frameTimeAgain = reader.frameTimeAgain();
}

}  // namespace

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_Init(void** handle, const char* path, uint8_t live,
                                                    uint8_t applyAspect,
                                                    VideoInterruptCallBack interruptCallback,
                                                    uint8_t sequential, char* errorText) {
  ClearErrorText(errorText);
  tarsel::StartReaderNetwork();
  return tarsel::CreateObject<VideoReader>(handle, errorText, kUnknownInit, path, live != 0,
                                           applyAspect != 0, interruptCallback, sequential != 0);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_getVideoInfo(void* handle, int32_t* width,
                                                            int32_t* height, int32_t* frameCount,
                                                            double* duration, double* frameRate,
                                                            char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<VideoReader>(handle).GetVideoInfo(width, height, frameCount, duration, frameRate);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_getVidInfoStruct(void* handle, VidInfo* info,
                                                                char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<VideoReader>(handle).GetVidInfo(info);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_getAudioInfo(void* handle, uint32_t* audioInfo,
                                                            char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    const uint32_t value = Live<VideoReader>(handle).AudioInfo();
    if (audioInfo) *audioInfo = value;
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_Clear(void** handle) {
  return tarsel::DestroyObject<VideoReader>(handle);
}

// The picture exports leave errorText alone unless the handle is null.
extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_getNextFrame(void* handle, uint8_t* pixels,
                                                            int32_t stride, uint32_t* frameIndex,
                                                            double* frameTime,
                                                            double* frameTimeAgain,
                                                            char* errorText) {
  return GuardMessages(errorText, [&] {
    VideoReader& reader = Live<VideoReader>(handle);
    const bool delivered = reader.NextFrame(pixels, stride);
    WritePosition(reader, frameIndex, frameTime, frameTimeAgain);
    return delivered ? 0 : 1;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_getFrameWithTimeStamp(
    void* handle, uint8_t* pixels, int32_t stride, double time, uint32_t* frameIndex,
    double* frameTime, double* frameTimeAgain, char* errorText) {
  return GuardMessages(errorText, [&] {
    VideoReader& reader = Live<VideoReader>(handle);
    if (!reader.FrameAtTime(pixels, stride, time)) return 1;
    WritePosition(reader, frameIndex, frameTime, frameTimeAgain);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_getFrameWithIndex(
    void* handle, uint8_t* pixels, int32_t stride, int32_t index, uint32_t* frameIndex,
    double* frameTime, double* frameTimeAgain, char* errorText) {
  return GuardMessages(errorText, [&] {
    VideoReader& reader = Live<VideoReader>(handle);
    if (!reader.FrameAtIndex(pixels, stride, index)) return 1;
    WritePosition(reader, frameIndex, frameTime, frameTimeAgain);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_Rewind(void* handle, char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<VideoReader>(handle).Rewind();
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_SkipFrames(void* handle, int32_t count,
                                                          char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<VideoReader>(handle).SkipFrames(count);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_ReadAllFrames(void* handle, uint32_t* count,
                                                             int64_t* firstPts, int64_t* lastPts,
                                                             uint32_t* timeBaseNum,
                                                             uint32_t* timeBaseDen,
                                                             char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<VideoReader>(handle).ReadAllFrames(count, firstPts, lastPts, timeBaseNum, timeBaseDen);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_SetFrameRate(void* handle, double frameRate,
                                                            char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<VideoReader>(handle).SetFrameRate(frameRate);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_TEST(void* handle, char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<VideoReader>(handle).SelfTest();
    return 0;
  });
}
