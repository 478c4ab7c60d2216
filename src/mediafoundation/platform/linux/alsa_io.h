// The calls through which the microphone provider reaches ALSA: the system's
// libasound, loaded when first needed, or a scripted device in tests. Results
// follow ALSA's: 0 (or a count) on success, minus the errno value on failure.
#pragma once

#include <time.h>

#include <memory>
#include <string>
#include <vector>

namespace tarsel::platform {

enum class AlsaSampleFormat { kS16, kFloat };

struct AlsaParameters {
  AlsaSampleFormat format;
  unsigned channels;
  unsigned rate;
};

// A hardware PCM that captures.
struct AlsaCaptureDevice {
  std::string name;         // for opening, "hw:CARD=<id>,DEV=<n>"
  std::string description;  // "<card name>, <PCM name>", as ALSA describes it
};

// One opened capture PCM; closed when destroyed.
class AlsaPcm {
 public:
  virtual ~AlsaPcm() = default;
  // Whether the device takes interleaved frames of these parameters.
  virtual bool Supports(const AlsaParameters& parameters) = 0;
  // Sets interleaved capture in exactly these parameters, periods of about
  // periodFrames, timestamps from the monotonic clock; leaves the PCM prepared.
  virtual int Configure(const AlsaParameters& parameters, unsigned long periodFrames) = 0;
  virtual int Start() = 0;
  // Stops capture and drops what was captured.
  virtual int Drop() = 0;
  // Prepares again after an overrun or a suspension.
  virtual int Prepare() = 0;
  // Reads up to frames frames without waiting: the count, or -EAGAIN.
  virtual long Read(void* buffer, unsigned long frames) = 0;
  // Frames ready to read and the capture clock's time when they were counted.
  virtual int Stamp(unsigned long* available, timespec* time) = 0;
};

class AlsaIo {
 public:
  virtual ~AlsaIo() = default;
  // The hardware capture PCMs: -errno when ALSA is missing or not configured.
  virtual int CaptureDevices(std::vector<AlsaCaptureDevice>* devices) = 0;
  // Opens a PCM for capture without blocking.
  virtual int Open(const std::string& name, std::unique_ptr<AlsaPcm>* pcm) = 0;
};

// ALSA through the system's libasound.so.2; a machine without it has no
// microphones.
std::shared_ptr<AlsaIo> SystemAlsaIo();

}  // namespace tarsel::platform
