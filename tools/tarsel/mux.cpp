// tarsel mux IN.h264 -o OUT.mp4 [--fps F]: an Annex-B H.264 stream stored in
// MP4 (or the container the output name picks) by the MP4 writer.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <deque>

#include "command.h"
#include "common.h"
#include "h264_stream.h"
#include "progress.h"

namespace tool {
namespace {

const std::vector<uint8_t> kStartCode = {0, 0, 0, 1};
// The MP4 writer takes a unit as a key frame when its fifth byte is this header:
// an IDR slice, nal_ref_idc 3, right after a four-byte start code.
constexpr uint8_t kIdrHeader = 0x65;
// Units held back until the picture size is known.
constexpr size_t kLookAhead = 32;

std::string BFramesRefused(const std::string& input) {
  return About(input,
               "the stream has B-frames; the MP4 writer stores one time per frame, so their "
               "order would be lost (encode without B-frames, for example x264's -bf 0)");
}

// The parameter sets the stream starts with, handed to the writer once.
struct ParameterSets {
  std::vector<uint8_t> sps, pps;
  bool complete() const { return !sps.empty() && !pps.empty(); }
};

// What the writer gets for one access unit: four-byte start codes, no delimiter,
// no parameter set it already has, and for a key frame the IDR slice first.
std::vector<uint8_t> WriterUnit(const AccessUnit& unit, const ParameterSets& sets) {
  const bool idr = unit.IsIdr();
  std::vector<uint8_t> bytes;
  for (const auto& nal : unit.nals) {
    const int type = TypeOf(nal);
    if (type == kAccessUnitDelimiter) continue;
    if ((type == kSps && nal == sets.sps) || (type == kPps && nal == sets.pps)) continue;
    // SEI must precede the slices; a key frame keeps its slices only.
    if (idr && type == kSei) continue;
    bytes.insert(bytes.end(), kStartCode.begin(), kStartCode.end());
    const size_t header = bytes.size();
    bytes.insert(bytes.end(), nal.begin(), nal.end());
    // Any nonzero nal_ref_idc marks a reference picture; 3 is what the writer knows.
    if (type == kIdrSlice) bytes[header] = kIdrHeader;
  }
  return bytes;
}

// The picture size, from the library's own packet decoder.
class SizeProbe {
 public:
  SizeProbe() {
    ErrorText error;
    if (DECODER_Init(&decoder_, error) != 0) throw Failure("H.264 decoder: " + error.str());
  }
  ~SizeProbe() { DECODER_Clear(&decoder_); }
  // True once a picture came out.
  bool Feed(const AccessUnit& unit) {
    std::vector<uint8_t> bytes;
    for (const auto& nal : unit.nals) {
      bytes.insert(bytes.end(), kStartCode.begin(), kStartCode.end());
      bytes.insert(bytes.end(), nal.begin(), nal.end());
    }
    if (bytes.empty()) return false;
    DECODER_DecodeFrame(decoder_, bytes.data(), static_cast<int32_t>(bytes.size()), &width_,
                        &height_);
    return width_ > 0 && height_ > 0;
  }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  void* decoder_ = nullptr;
  int32_t width_ = 0, height_ = 0;
};

class Mp4Output {
 public:
  Mp4Output(const std::string& path, int width, int height, double fps, const ParameterSets& sets)
      : path_(path), fps_(fps) {
    ErrorText error;
    // The writer exists after every Init result and is cleared in every case.
    const int result = MP4WRITER_Init(&writer_, path.c_str(), static_cast<uint32_t>(width),
                                      static_cast<uint32_t>(height),
                                      static_cast<uint32_t>(std::max(1L, std::lround(fps))), error);
    if (result != 0) Fail(error);
    std::vector<uint8_t> sps = kStartCode, pps = kStartCode;
    sps.insert(sps.end(), sets.sps.begin(), sets.sps.end());
    pps.insert(pps.end(), sets.pps.begin(), sets.pps.end());
    if (MP4WRITER_AddSPSPPS(writer_, sps.data(), static_cast<int32_t>(sps.size()), pps.data(),
                            static_cast<int32_t>(pps.size()), error) != 0) {
      Fail(error);
    }
  }
  ~Mp4Output() { MP4WRITER_Clear(&writer_); }

  void Add(const std::vector<uint8_t>& bytes) {
    ErrorText error;
    const double time = frames_ / fps_;
    if (MP4WRITER_AddRawH264FrameWithTime(writer_, bytes.data(), static_cast<int32_t>(bytes.size()),
                                          time, error) != 0) {
      Fail(error);
    }
    ++frames_;
  }
  long long frames() const { return frames_; }
  void Discard() {
    MP4WRITER_Clear(&writer_);
    std::remove(path_.c_str());
  }

 private:
  [[noreturn]] void Fail(const ErrorText& error) {
    const std::string message = error.str();
    Discard();
    throw Failure(About(path_, message));
  }
  std::string path_;
  double fps_;
  void* writer_ = nullptr;
  long long frames_ = 0;
};

}  // namespace

MuxResult Mux(const MuxOptions& options) {
  CheckNotTheInput(options.input, options.output);
  AccessUnitReader reader(options.input);
  ParameterSets sets;
  SizeProbe probe;
  std::deque<AccessUnit> held;
  bool sized = false, more = true;
  // Read ahead until the first picture decodes and a few units are known.
  while (more && (!sized || held.size() < kLookAhead)) {
    AccessUnit unit;
    more = reader.Next(unit);
    if (!more) break;
    for (const auto& nal : unit.nals) {
      if (TypeOf(nal) == kSps && sets.sps.empty()) sets.sps = nal;
      if (TypeOf(nal) == kPps && sets.pps.empty()) sets.pps = nal;
    }
    if (unit.HasBSlice()) throw Failure(BFramesRefused(options.input));
    if (!sized) sized = probe.Feed(unit);
    if (unit.HasVcl()) held.push_back(std::move(unit));
  }
  if (!sets.complete()) {
    throw Failure(About(options.input,
                        "no sequence and picture parameter sets (SPS, PPS): "
                        "is this an H.264 Annex-B stream?"));
  }
  if (!sized) throw Failure(About(options.input, "no picture of the stream could be decoded"));

  Mp4Output output(options.output, probe.width(), probe.height(), options.fps, sets);
  Progress progress("mux", 0, options.quiet);
  long long skipped = 0, keyFrames = 0;
  AccessUnit unit;
  while (!held.empty() || (more && (more = reader.Next(unit)))) {
    if (!held.empty()) {
      unit = std::move(held.front());
      held.pop_front();
    } else if (!unit.HasVcl()) {
      continue;
    }
    if (unit.HasBSlice()) {
      output.Discard();
      throw Failure(BFramesRefused(options.input));
    }
    const std::vector<uint8_t> bytes = WriterUnit(unit, sets);
    const bool key = bytes.size() > 4 && bytes[4] == kIdrHeader;
    // Nothing before the first key frame can be decoded.
    if (!key && keyFrames == 0) {
      ++skipped;
      continue;
    }
    keyFrames += key;
    output.Add(bytes);
    progress.Update(output.frames());
    StopIfInterrupted();
  }
  progress.Finish();
  if (skipped) {
    std::fprintf(stderr, "tarsel: note: %s\n",
                 About(options.input, std::to_string(skipped) +
                                          " pictures before the first key frame were left out")
                     .c_str());
  }
  if (output.frames() == 0) {
    output.Discard();
    throw Failure(About(options.input, "no key frame in the stream"));
  }
  return {probe.width(), probe.height(), output.frames(), keyFrames};
}

Subcommand AddMux(CLI::App& tarsel) {
  auto options = std::make_shared<MuxOptions>();
  CLI::App* command =
      tarsel.add_subcommand("mux", "An H.264 stream (.h264) stored in MP4 without re-encoding");
  command->add_option("input", options->input, "The H.264 stream")->required()->type_name("FILE");
  command->add_option("-o,--output", options->output, "The file to write (.mp4, .mov, .mkv ...)")
      ->required()
      ->type_name("FILE");
  command->add_option("--fps", options->fps, "Frames per second of the stream")
      ->capture_default_str()
      ->check(CLI::Range(0.01, 1000.0));
  AddQuietOption(*command, options->quiet);
  return {command, [options] {
            const MuxResult r = Mux(*options);
            std::printf("%s: %lld frames of %d x %d at %s fps (%s s), %lld key frames\n",
                        options->output.c_str(), r.frames, r.width, r.height,
                        Number(options->fps).c_str(), Number(r.frames / options->fps).c_str(),
                        r.keyFrames);
          }};
}

}  // namespace tool
