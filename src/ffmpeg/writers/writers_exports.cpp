// The exports of the video writers: LLWRITER_, VIDEO_TESTWriter and VIDWRITER_.
#include "common/boundary.h"
#include "ffmpeg/writers/ll_writer.h"
#include "ffmpeg/writers/vid_writer.h"
#include "tarsel.h"

using tarsel::CreateObject;
using tarsel::DestroyObject;
using tarsel::GuardMessages;
using tarsel::GuardSilently;
using tarsel::Live;
using tarsel::LLWriter;
using tarsel::VidWriter;

extern "C" TARSEL_EXPORT int TARSEL_CALL LLWRITER_Init(void** handle, const char* path,
                                                       int32_t width, int32_t height,
                                                       double frameRate, char* errorText) {
  return CreateObject<LLWriter>(handle, errorText, "Unknown exception in LLWRITER_Init", path,
                                width, height, frameRate);
}

// time is not used: frames are timed by their order alone.
extern "C" TARSEL_EXPORT int TARSEL_CALL LLWRITER_WriteFrame(void* handle, const uint8_t* pixels,
                                                             int32_t stride, double /*time*/,
                                                             char* errorText) {
  return GuardMessages(errorText, [&] {
    Live<LLWriter>(handle).WriteFrame(pixels, stride);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL LLWRITER_Clear(void** handle) {
  return DestroyObject<LLWriter>(handle);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDEO_TESTWriter(const char* path) {
  tarsel::ApplyLogPolicy();
  return GuardSilently(1, [&] {
    LLWriter writer;
    writer.Open(path, 640, 480, 15.0);
    writer.Close();
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDWRITER_Init(void** handle, const char* path,
                                                        int32_t width, int32_t height,
                                                        uint8_t withAudio, const char* formatName,
                                                        int32_t bitRate, int32_t frameRate,
                                                        int32_t gopSize, char* errorText) {
  return CreateObject<VidWriter>(handle, errorText, "Unknown exception in VIDWRITER_Init", path,
                                 width, height, withAudio != 0, formatName, bitRate, frameRate,
                                 gopSize);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDWRITER_WriteFrame(void* handle, const uint8_t* pixels,
                                                              int32_t stride, double time,
                                                              char* errorText) {
  return GuardMessages(errorText, [&] {
    Live<VidWriter>(handle).WriteFrame(pixels, stride, time);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDWRITER_GetVideoInfo(void* handle,
                                                                uint32_t* encodedBytes,
                                                                uint32_t* frameCount,
                                                                char* errorText) {
  return GuardMessages(errorText, [&] {
    const VidWriter& writer = Live<VidWriter>(handle);
    if (encodedBytes) *encodedBytes = writer.encodedBytes();
    if (frameCount) *frameCount = writer.framesWritten();
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL VIDWRITER_Clear(void** handle) {
  return DestroyObject<VidWriter>(handle);
}
