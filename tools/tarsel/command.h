// The subcommands of the tarsel tool. Each lives in its own file: AddNAME puts
// it on the command line with its options, and the work itself is a function
// the demo calls as well. main.cpp holds the table of subcommands.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "input.h"

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace tool {

// A subcommand on the command line and what runs when it was chosen. `run`
// throws a Failure when the command fails.
struct Subcommand {
  CLI::App* app;
  std::function<void()> run;
};
using AddSubcommand = Subcommand (*)(CLI::App& tarsel);

Subcommand AddInfo(CLI::App& tarsel);
Subcommand AddFrames(CLI::App& tarsel);
Subcommand AddSheet(CLI::App& tarsel);
Subcommand AddTranscode(CLI::App& tarsel);
Subcommand AddAudio(CLI::App& tarsel);
Subcommand AddMux(CLI::App& tarsel);
Subcommand AddDevices(CLI::App& tarsel);
Subcommand AddRecord(CLI::App& tarsel);
Subcommand AddDemo(CLI::App& tarsel);

// Options that several subcommands share. --live only where reading forward
// is enough.
void AddInputOptions(CLI::App& command, InputOptions& options, bool offerLive);
void AddQuietOption(CLI::App& command, bool& quiet);
// Accepts a finite number of seconds, not negative.
const CLI::Validator& SecondsValidator();

// info
struct AudioSummary {
  int32_t streamIndex, channels, sampleRate, bufferSize;
  double duration;
  std::string codec;
};
struct MediaInfo {
  std::string path;
  std::optional<VidInfo> video;
  std::optional<AudioSummary> audio;
};
MediaInfo ReadMediaInfo(const std::string& path, const InputOptions& options);
void PrintMediaInfo(const MediaInfo& info);

// sheet
struct SheetOptions {
  std::string input, output;
  int columns = 4, rows = 3, width = 1280;
  bool quiet = false;
  InputOptions in;
};
struct SheetTile {
  int32_t index;
  double time;
  int x, y, width, height;
  bool delivered;
};
struct SheetResult {
  int width, height;
  std::vector<SheetTile> tiles;
};
SheetResult MakeSheet(const SheetOptions& options);

// transcode
struct TranscodeOptions {
  std::string input, output;
  bool ffv1 = false;
  int bitRate = 0;  // 0: chosen from the picture size
  int gop = 12;
  int fps = 0;                // 0: the input's rate
  bool noteLostSound = true;  // say on stderr that the sound stays behind
  bool quiet = false;
  InputOptions in;
};
struct TranscodeResult {
  long long pictures;  // read from the input
  long long frames;    // written
  double seconds;      // of video written
};
TranscodeResult Transcode(const TranscodeOptions& options);

// audio
struct AudioOptions {
  std::string input, output;
  bool quiet = false;
  InputOptions in;
};
struct AudioResult {
  int channels, sampleRate;
  long long samples;  // per channel
};
AudioResult ExtractAudio(const AudioOptions& options);

// mux
struct MuxOptions {
  std::string input, output;
  double fps = 25;
  bool quiet = false;
};
struct MuxResult {
  int width, height;
  long long frames, keyFrames;
};
MuxResult Mux(const MuxOptions& options);

// record
struct RecordOptions {
  std::string output;
  int camera = 0, microphone = 0;
  int format = -1;  // -1: the camera's first format that can be recorded
  bool withSound = true;
  double seconds = 5;
  bool quiet = false;
};
struct RecordResult {
  int width, height;
  std::string format;  // the camera's pixel format
  long long pictures;
  bool sound;
  int channels, sampleRate;
  double soundSeconds;
};
RecordResult Record(const RecordOptions& options);

}  // namespace tool
