#include "ffmpeg/common/default_codecs.h"

#include <map>
#include <mutex>
#include <utility>

namespace tarsel {
namespace {

struct Overrides {
  std::mutex lock;
  std::map<const AVOutputFormat*, std::pair<AVCodecID, AVCodecID>> codecs;
};

Overrides& TheOverrides() {
  static Overrides overrides;
  return overrides;
}

}  // namespace

void OverrideDefaultCodecs(const AVOutputFormat* format, AVCodecID video, AVCodecID audio) {
  if (!format) return;
  Overrides& overrides = TheOverrides();
  std::lock_guard<std::mutex> hold(overrides.lock);
  auto [entry, added] =
      overrides.codecs.try_emplace(format, format->video_codec, format->audio_codec);
  (void)added;
  if (video != AV_CODEC_ID_NONE) entry->second.first = video;
  if (audio != AV_CODEC_ID_NONE) entry->second.second = audio;
}

AVCodecID DefaultVideoCodec(const AVOutputFormat* format) {
  if (!format) return AV_CODEC_ID_NONE;
  Overrides& overrides = TheOverrides();
  std::lock_guard<std::mutex> hold(overrides.lock);
  auto entry = overrides.codecs.find(format);
  return entry == overrides.codecs.end() ? format->video_codec : entry->second.first;
}

AVCodecID DefaultAudioCodec(const AVOutputFormat* format) {
  if (!format) return AV_CODEC_ID_NONE;
  Overrides& overrides = TheOverrides();
  std::lock_guard<std::mutex> hold(overrides.lock);
  auto entry = overrides.codecs.find(format);
  return entry == overrides.codecs.end() ? format->audio_codec : entry->second.second;
}

}  // namespace tarsel
