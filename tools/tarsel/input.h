// The library's two readers as the tool uses them: opened with a timeout for
// network addresses, closed when they go out of scope, failures as Failure.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picture.h"
#include "session.h"
#include "tarsel.h"

namespace tool {

// How to open an input: the open and read timeout of network addresses, and
// whether to read forward only (chosen from the address when not given).
struct InputOptions {
  double timeout = 10;
  bool live = false;
};

// A library handle released by its family's Clear, also when a constructor
// that holds it fails half-way.
template <int(TARSEL_CALL* Clear)(void**)>
struct Handle {
  Handle() = default;
  ~Handle() { Clear(&value); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void* value = nullptr;
};

// A delivered picture's place in the video.
struct Stamp {
  uint32_t index = 0;
  double time = 0;
};

class VideoInput {
 public:
  // Opens `path`; a missing video stream, like any other failure, is a Failure
  // with the library's message.
  VideoInput(const std::string& path, const InputOptions& options);
  // The same, but a failure to open gives nullptr and the library's message in
  // `*message` (timeouts and Ctrl-C are still raised).
  static std::unique_ptr<VideoInput> TryOpen(const std::string& path, const InputOptions& options,
                                             std::string* message);

  const std::string& path() const { return path_; }
  const VidInfo& info() const { return info_; }
  bool live() const { return live_; }
  // A picture of the reader's output size, for the calls below.
  Picture NewPicture() const { return Picture(info_.width, info_.height); }

  // Each returns false when there is no such picture (the end, an index or a
  // time out of range, an undecodable picture).
  bool Next(Picture& picture, Stamp& stamp);
  bool AtIndex(int32_t index, Picture& picture, Stamp& stamp);
  bool AtTime(double seconds, Picture& picture, Stamp& stamp);
  // The next Next() delivers the picture `count` indices further on.
  void Skip(int32_t count);

 private:
  VideoInput() = default;
  bool Open(const std::string& path, const InputOptions& options, std::string* message);
  // Runs one read under the read deadline; a timeout or Ctrl-C is raised.
  template <class Call>
  bool Read(Call call);

  Handle<VIDEO_Clear> handle_;
  std::string path_;
  VidInfo info_{};
  bool live_ = false;
  double timeout_ = 0;  // 0: a local file, no deadline
};

// One block of decoded sound: interleaved signed 16-bit samples.
struct SoundBlock {
  std::vector<uint8_t> bytes;
  int32_t samples = 0;  // per channel
  double time = 0;
};

class AudioInput {
 public:
  AudioInput(const std::string& path, const InputOptions& options);
  static std::unique_ptr<AudioInput> TryOpen(const std::string& path, const InputOptions& options,
                                             std::string* message);

  int32_t streamIndex() const { return streamIndex_; }
  int32_t channels() const { return channels_; }
  int32_t sampleRate() const { return sampleRate_; }
  int32_t bufferSize() const { return bufferSize_; }
  double duration() const { return duration_; }
  const std::string& codec() const { return codec_; }

  // The next block, or false at the end.
  bool Next(SoundBlock& block);

 private:
  AudioInput() = default;
  bool Open(const std::string& path, const InputOptions& options, std::string* message);

  std::string path_;
  std::unique_ptr<Watchdog> watchdog_;  // released after the reader it watches
  Handle<AUDIO_Clear> handle_;
  int32_t streamIndex_ = -1, channels_ = 0, sampleRate_ = 0, bufferSize_ = 0;
  double duration_ = 0;
  std::string codec_;
};

// The library's texts for an input without a stream of the kind.
inline constexpr char kNoVideoStream[] = "Could not find videostream";
inline constexpr char kNoAudioStream[] = "Could not find audio stream";

}  // namespace tool
