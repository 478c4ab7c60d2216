// tarsel audio FILE -o OUT.wav: the decoded sound as a 16-bit PCM WAV file.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>

#include "command.h"
#include "common.h"
#include "progress.h"
#include "wav_file.h"

namespace tool {

AudioResult ExtractAudio(const AudioOptions& options) {
  CheckNotTheInput(options.input, options.output);
  AudioInput audio(options.input, options.in);
  WavFile wav(options.output, audio.channels(), audio.sampleRate());
  Progress progress("audio seconds", std::llround(audio.duration()), options.quiet);
  SoundBlock block;
  long long samples = 0;
  while (audio.Next(block)) {
    wav.Append(block.bytes.data(), block.bytes.size());
    samples += block.samples;
    progress.Update(samples / std::max(1, audio.sampleRate()));
  }
  progress.Finish();
  wav.Close();
  return {audio.channels(), audio.sampleRate(), samples};
}

Subcommand AddAudio(CLI::App& tarsel) {
  auto options = std::make_shared<AudioOptions>();
  CLI::App* command =
      tarsel.add_subcommand("audio", "The decoded sound of a file as a 16-bit WAV file");
  command->add_option("input", options->input, "Media file")->required()->type_name("FILE");
  command->add_option("-o,--output", options->output, "The WAV file to write")
      ->required()
      ->type_name("FILE");
  AddInputOptions(*command, options->in, false);
  AddQuietOption(*command, options->quiet);
  return {command, [options] {
            const AudioResult r = ExtractAudio(*options);
            std::printf("%s: %d channels, %d Hz, %lld samples (%s s)\n", options->output.c_str(),
                        r.channels, r.sampleRate, r.samples,
                        Number(double(r.samples) / std::max(1, r.sampleRate)).c_str());
          }};
}

}  // namespace tool
