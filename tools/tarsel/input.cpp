#include "input.h"

#include "common.h"

namespace tool {

VideoInput::VideoInput(const std::string& path, const InputOptions& options) {
  std::string message;
  if (!Open(path, options, &message)) throw Failure(About(path, message));
}

std::unique_ptr<VideoInput> VideoInput::TryOpen(const std::string& path,
                                                const InputOptions& options, std::string* message) {
  std::unique_ptr<VideoInput> input(new VideoInput());
  if (!input->Open(path, options, message)) return nullptr;
  return input;
}

bool VideoInput::Open(const std::string& path, const InputOptions& options, std::string* message) {
  path_ = path;
  live_ = options.live || IsLiveAddress(path);
  timeout_ = IsNetworkAddress(path) ? options.timeout : 0;
  ErrorText error;
  int result;
  Deadline::Forget();
  {
    Deadline deadline(timeout_);
    // Pictures keep their stored size, as the ffmpeg tool writes them.
    result = VIDEO_Init(&handle_.value, path.c_str(), live_, 0, ReaderInterrupt, 0, error);
  }
  StopIfInterrupted();
  if (result != 0) {
    if (Deadline::TimedOut()) throw Failure(NoAnswer(path, timeout_), kTimedOut);
    *message = error.str();
    return false;
  }
  // The information call also settles the duration that reading by time needs.
  if (VIDEO_getVidInfoStruct(handle_.value, &info_, error) != 0) {
    *message = error.str();
    return false;
  }
  return true;
}

template <class Call>
bool VideoInput::Read(Call call) {
  int result;
  {
    Deadline deadline(timeout_);
    result = call();
  }
  StopIfInterrupted();
  if (result != 0 && Deadline::TimedOut()) throw Failure(NoAnswer(path_, timeout_), kTimedOut);
  return result == 0;
}

bool VideoInput::Next(Picture& picture, Stamp& stamp) {
  double again = 0;
  ErrorText error;
  return Read([&] {
    return VIDEO_getNextFrame(handle_.value, picture.pixels.data(), picture.stride(), &stamp.index,
                              &stamp.time, &again, error);
  });
}

bool VideoInput::AtIndex(int32_t index, Picture& picture, Stamp& stamp) {
  double again = 0;
  ErrorText error;
  return Read([&] {
    return VIDEO_getFrameWithIndex(handle_.value, picture.pixels.data(), picture.stride(), index,
                                   &stamp.index, &stamp.time, &again, error);
  });
}

bool VideoInput::AtTime(double seconds, Picture& picture, Stamp& stamp) {
  double again = 0;
  ErrorText error;
  return Read([&] {
    return VIDEO_getFrameWithTimeStamp(handle_.value, picture.pixels.data(), picture.stride(),
                                       seconds, &stamp.index, &stamp.time, &again, error);
  });
}

void VideoInput::Skip(int32_t count) {
  ErrorText error;
  VIDEO_SkipFrames(handle_.value, count, error);
}

AudioInput::AudioInput(const std::string& path, const InputOptions& options) {
  std::string message;
  if (!Open(path, options, &message)) throw Failure(About(path, message));
}

std::unique_ptr<AudioInput> AudioInput::TryOpen(const std::string& path,
                                                const InputOptions& options, std::string* message) {
  std::unique_ptr<AudioInput> input(new AudioInput());
  if (!input->Open(path, options, message)) return nullptr;
  return input;
}

bool AudioInput::Open(const std::string& path, const InputOptions& options, std::string* message) {
  path_ = path;
  if (IsNetworkAddress(path)) watchdog_ = std::make_unique<Watchdog>(path, options.timeout);
  ErrorText error;
  if (AUDIO_Init(&handle_.value, path.c_str(), &streamIndex_, error) != 0) {
    *message = error.str();
    return false;
  }
  int32_t hasAudio = 0;
  char codec[TARSEL_ERROR_TEXT_SIZE] = {};
  if (AUDIO_GetAudioInfo(handle_.value, &hasAudio, &channels_, &sampleRate_, &bufferSize_,
                         &duration_, codec, error) != 0) {
    *message = error.str();
    return false;
  }
  codec_ = codec;
  return true;
}

bool AudioInput::Next(SoundBlock& block) {
  if (watchdog_) watchdog_->Rearm();
  block.bytes.resize(static_cast<size_t>(bufferSize_));
  int32_t byteCount = 0;
  ErrorText error;
  const int result = AUDIO_GetNewAudioSamples(handle_.value, block.bytes.data(), &block.samples,
                                              &byteCount, &block.time, error);
  StopIfInterrupted();
  if (result != 0) return false;
  // The reader reports a block larger than its buffer without copying it.
  if (byteCount < 0 || byteCount > bufferSize_) {
    throw Failure(About(path_, "a block of " + std::to_string(byteCount) +
                                   " bytes does not fit the reader's buffer"));
  }
  block.bytes.resize(static_cast<size_t>(byteCount));
  return true;
}

}  // namespace tool
