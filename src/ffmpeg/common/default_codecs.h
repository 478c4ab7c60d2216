// Default codecs per container, as this process sees them. FFmpeg's container
// descriptions are read-only, so the MP4 writer and muxer record here that a
// container now defaults to H.264 (and AAC); the audio/video writer asks here
// for a container's default codecs.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

namespace tarsel {

// Records new defaults for a container, for the rest of the process.
// AV_CODEC_ID_NONE leaves that kind's default as it is.
void OverrideDefaultCodecs(const AVOutputFormat* format, AVCodecID video, AVCodecID audio);

// The container's default video or audio codec after the overrides.
AVCodecID DefaultVideoCodec(const AVOutputFormat* format);
AVCodecID DefaultAudioCodec(const AVOutputFormat* format);

}  // namespace tarsel
