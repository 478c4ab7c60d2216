// The AUDIO_ exports: shells over AudioReader.
#include <cstring>

#include "common/boundary.h"
#include "ffmpeg/audio/audio_reader.h"
#include "tarsel.h"

using tarsel::AudioReader;

namespace {
constexpr char kUnknownInit[] = "Unknown exception in AUDIO_Init";
}

extern "C" TARSEL_EXPORT int TARSEL_CALL AUDIO_Init(void** handle, const char* path,
                                                    int32_t* streamIndex, char* errorText) {
  return tarsel::CreateObject<AudioReader>(handle, errorText, kUnknownInit, path, streamIndex);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL AUDIO_GetAudioInfo(void* handle, int32_t* hasAudioOut,
                                                            int32_t* channels, int32_t* sampleRate,
                                                            int32_t* bufferSize, double* duration,
                                                            char* codecName, char* errorText) {
  tarsel::ClearErrorText(errorText);
  tarsel::ClearErrorText(codecName);
  return tarsel::GuardMessages(errorText, [&] {
    AudioReader& reader = tarsel::Live<AudioReader>(handle);
    AudioReader::Info info;
    const bool hasAudio = reader.GetAudioInfo(info, codecName);
    if (hasAudioOut) *hasAudioOut = info.hasAudio;
    if (channels) *channels = info.channels;
    if (sampleRate) *sampleRate = info.sampleRate;
    if (bufferSize) *bufferSize = info.bufferSize;
    if (duration) *duration = info.duration;
    if (!hasAudio) throw tarsel::Message(AudioReader::kNoAudio);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL AUDIO_GetNewAudioSamples(void* handle, uint8_t* samples,
                                                                  int32_t* sampleCount,
                                                                  int32_t* byteCount, double* time,
                                                                  char* errorText) {
  if (time) *time = -1.0;
  if (sampleCount) *sampleCount = 0;
  if (byteCount) *byteCount = 0;
  return tarsel::GuardMessages(errorText, [&] {
    AudioReader& reader = tarsel::Live<AudioReader>(handle);
    if (!samples) throw tarsel::Message(AudioReader::kNoSampleBuffer);
    AudioReader::Block block;
    if (!reader.DecodeBlock(block)) return 1;
    std::memcpy(samples, reader.sampleBuffer(), static_cast<size_t>(block.bytes));
    if (time) *time = block.time;
    if (sampleCount) *sampleCount = block.samples;
    if (byteCount) *byteCount = block.bytes;
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL AUDIO_JumpToTimeStamp(void* handle, double* time,
                                                               char* errorText) {
  return tarsel::GuardMessages(errorText, [&] {
    AudioReader& reader = tarsel::Live<AudioReader>(handle);
    if (time) *time = reader.Jump(*time);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL AUDIO_Clear(void** handle) {
  return tarsel::DestroyObject<AudioReader>(handle);
}
