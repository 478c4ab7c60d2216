// tarsel info FILE... [--json]: what the video and audio readers report.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>

#include "codec_names.h"
#include "command.h"
#include "common.h"
#include "print_json.h"

namespace tool {
namespace {

struct InfoOptions {
  std::vector<std::string> inputs;
  bool json = false;
  InputOptions in;
};

// FFmpeg's "no value" (AV_NOPTS_VALUE), which the reader passes on for a stream
// without a stated duration.
constexpr int64_t kNoValue = INT64_MIN;

Json Ticks(int64_t ticks) { return ticks == kNoValue ? Json() : Json(ticks); }
Json StreamSeconds(const VidInfo& v) {
  return v.streamDurationTicks == kNoValue ? Json() : Json(v.streamDuration);
}

Json VideoJson(const VidInfo& v) {
  return {{"codec", VideoCodecName(v.codecId)},
          {"width", v.width},
          {"height", v.height},
          {"frameCount", v.frameCount},
          {"duration", v.duration},
          {"frameRate", v.frameRate},
          {"bitRate", v.bitRate},
          {"gopSize", v.gopSize},
          {"codecId", v.codecId},
          {"startTimestamp", v.startTimestamp},
          {"timeBaseNum", v.timeBaseNum},
          {"timeBaseDen", v.timeBaseDen},
          {"realFrameRateNum", v.realFrameRateNum},
          {"realFrameRateDen", v.realFrameRateDen},
          {"avgFrameRateNum", v.avgFrameRateNum},
          {"avgFrameRateDen", v.avgFrameRateDen},
          {"streamDuration", StreamSeconds(v)},
          {"lastPacketTime", v.lastPacketTime},
          {"streamDurationTicks", Ticks(v.streamDurationTicks)},
          {"streamFrameCount", v.streamFrameCount}};
}

Json InfoJson(const MediaInfo& info) {
  Json json = {{"path", info.path}, {"video", nullptr}, {"audio", nullptr}};
  if (info.video) json["video"] = VideoJson(*info.video);
  if (info.audio) {
    const AudioSummary& a = *info.audio;
    json["audio"] = {{"codec", a.codec},       {"streamIndex", a.streamIndex},
                     {"channels", a.channels}, {"sampleRate", a.sampleRate},
                     {"duration", a.duration}, {"bufferSize", a.bufferSize}};
  }
  return json;
}

void Line(const char* key, const std::string& value) {
  std::printf("  %-13s %s\n", key, value.c_str());
}

std::string Ratio(int32_t num, int32_t den) {
  return std::to_string(num) + "/" + std::to_string(den);
}

void RunInfo(const InfoOptions& options) {
  Json all = Json::array();
  int code = kSuccess;
  for (const std::string& path : options.inputs) {
    try {
      const MediaInfo info = ReadMediaInfo(path, options.in);
      if (options.json) {
        all.push_back(InfoJson(info));
      } else {
        PrintMediaInfo(info);
      }
    } catch (const Failure& failure) {
      if (failure.code() == kInterrupted) throw;
      std::fprintf(stderr, "tarsel: %s\n", failure.what());
      if (options.json) all.push_back({{"path", path}, {"error", failure.what()}});
      if (code == kSuccess) code = failure.code();
    }
  }
  if (options.json) PrintJson(all);
  if (code != kSuccess) throw Failure("", code);
}

}  // namespace

MediaInfo ReadMediaInfo(const std::string& path, const InputOptions& options) {
  MediaInfo info{path, std::nullopt, std::nullopt};
  std::string message;
  if (auto video = VideoInput::TryOpen(path, options, &message)) {
    info.video = video->info();
  } else if (message != kNoVideoStream) {
    throw Failure(About(path, message));
  }
  if (auto audio = AudioInput::TryOpen(path, options, &message)) {
    info.audio = AudioSummary{audio->streamIndex(), audio->channels(), audio->sampleRate(),
                              audio->bufferSize(),  audio->duration(), audio->codec()};
  } else if (message != kNoAudioStream) {
    throw Failure(About(path, message));
  }
  if (!info.video && !info.audio) throw Failure(About(path, "no video or audio stream"));
  return info;
}

void PrintMediaInfo(const MediaInfo& info) {
  std::printf("%s\n", info.path.c_str());
  if (const auto& v = info.video) {
    Line("video", VideoCodecName(v->codecId) + ", " + std::to_string(v->width) + " x " +
                      std::to_string(v->height) + ", " + Number(v->frameRate) + " fps, " +
                      Count(v->frameCount, "frame") + ", " + Number(v->duration) + " s");
    Line("bit rate", std::to_string(v->bitRate) + " bit/s");
    Line("gop size", std::to_string(v->gopSize));
    Line("codec id", std::to_string(v->codecId));
    Line("time base", Ratio(v->timeBaseNum, v->timeBaseDen));
    Line("start", std::to_string(v->startTimestamp) + " ticks");
    Line("frame rates", "real " + Ratio(v->realFrameRateNum, v->realFrameRateDen) + ", average " +
                            Ratio(v->avgFrameRateNum, v->avgFrameRateDen));
    Line("stream", v->streamDurationTicks == kNoValue
                       ? "no duration stated, " + std::to_string(v->streamFrameCount) + " frames"
                       : Number(v->streamDuration) + " s, " +
                             std::to_string(v->streamDurationTicks) + " ticks, " +
                             std::to_string(v->streamFrameCount) + " frames");
    Line("last packet", Number(v->lastPacketTime) + " s");
  } else {
    Line("video", "none");
  }
  if (const auto& a = info.audio) {
    Line("audio", a->codec + ", " + std::to_string(a->channels) + " channels, " +
                      std::to_string(a->sampleRate) + " Hz, " + Number(a->duration) + " s");
    Line("audio stream", std::to_string(a->streamIndex) + ", blocks of up to " +
                             std::to_string(a->bufferSize) + " bytes");
  } else {
    Line("audio", "none");
  }
}

Subcommand AddInfo(CLI::App& tarsel) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* command = tarsel.add_subcommand(
      "info", "What the video and audio readers report about files or stream addresses");
  command->add_option("files", options->inputs, "Media files or stream addresses")
      ->required()
      ->type_name("FILE");
  command->add_flag("--json", options->json, "Print one JSON array with an object per input");
  AddInputOptions(*command, options->in, true);
  return {command, [options] { RunInfo(*options); }};
}

}  // namespace tool
