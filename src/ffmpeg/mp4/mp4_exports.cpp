// The MP4WRITER_ and MP4Muxer_ exports. Their Inits hand out the handle before
// the open is tried, so the caller clears it after every result.
#include "common/boundary.h"
#include "ffmpeg/mp4/mp4_writer.h"
#include "tarsel.h"

using tarsel::ClearErrorText;
using tarsel::GuardMessages;
using tarsel::Live;
using tarsel::MP4Muxer;
using tarsel::MP4Writer;

namespace {

constexpr char kUnknownInit[] = "Unknown exception in GRABBER_Init";

template <class T>
int AddSPSPPS(void* handle, const uint8_t* sps, int32_t spsLength, const uint8_t* pps,
              int32_t ppsLength, char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<T>(handle).AddSPSPPS(sps, spsLength, pps, ppsLength);
    return 0;
  });
}

template <class T>
int AddFrame(void* handle, const uint8_t* data, int32_t length, char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<T>(handle).AddFrame(data, length);
    return 0;
  });
}

template <class T>
int AddFrameWithTime(void* handle, const uint8_t* data, int32_t length, double time,
                     char* errorText) {
  ClearErrorText(errorText);
  return GuardMessages(errorText, [&] {
    Live<T>(handle).AddRawH264FrameWithTime(data, length, time);
    return 0;
  });
}

}  // namespace

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4WRITER_Init(void** handle, const char* path,
                                                        uint32_t width, uint32_t height,
                                                        uint32_t frameRate, char* errorText) {
  return tarsel::CreateThenOpen<MP4Writer>(handle, errorText, kUnknownInit, path, width, height,
                                           frameRate);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4WRITER_AddSPSPPS(void* handle, const uint8_t* sps,
                                                             int32_t spsLength, const uint8_t* pps,
                                                             int32_t ppsLength, char* errorText) {
  return AddSPSPPS<MP4Writer>(handle, sps, spsLength, pps, ppsLength, errorText);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4WRITER_AddFrame(void* handle, const uint8_t* data,
                                                            int32_t length, char* errorText) {
  return AddFrame<MP4Writer>(handle, data, length, errorText);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4WRITER_AddRawH264FrameWithTime(
    void* handle, const uint8_t* data, int32_t length, double time, char* errorText) {
  return AddFrameWithTime<MP4Writer>(handle, data, length, time, errorText);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4WRITER_Clear(void** handle) {
  return tarsel::DestroyObject<MP4Writer>(handle);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4Muxer_Init(void** handle, const char* path,
                                                       uint32_t width, uint32_t height,
                                                       uint32_t frameRate, char* errorText) {
  return tarsel::CreateThenOpen<MP4Muxer>(handle, errorText, kUnknownInit, path, width, height,
                                          frameRate);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddSPSPPS(void* handle, const uint8_t* sps,
                                                            int32_t spsLength, const uint8_t* pps,
                                                            int32_t ppsLength, char* errorText) {
  return AddSPSPPS<MP4Muxer>(handle, sps, spsLength, pps, ppsLength, errorText);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddFrame(void* handle, const uint8_t* data,
                                                           int32_t length, char* errorText) {
  return AddFrame<MP4Muxer>(handle, data, length, errorText);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddRawH264FrameWithTime(
    void* handle, const uint8_t* data, int32_t length, double time, char* errorText) {
  return AddFrameWithTime<MP4Muxer>(handle, data, length, time, errorText);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MP4Muxer_Clear(void** handle) {
  return tarsel::DestroyObject<MP4Muxer>(handle);
}
