// The tarsel tool: the library's main jobs from the command line, through the
// public header and the shared library only.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>

#include "command.h"
#include "common.h"
#include "session.h"

namespace tool {
namespace {

// Every subcommand, in the order `tarsel --help` lists them. A new one is a
// file of its own and a line here.
constexpr AddSubcommand kSubcommands[] = {
    AddInfo, AddFrames, AddSheet, AddTranscode, AddAudio, AddMux, AddDevices, AddRecord, AddDemo,
};

constexpr char kFooter[] = R"(Exit codes:
  0    success
  1    an input could not be read or an output could not be written
  2    the command line was refused
  3    a network input did not answer within --timeout
  130  interrupted (Ctrl-C)

FFmpeg's own messages are silenced; TARSEL_LOG=error, warning or info shows them.
Run `tarsel demo` for a tour, and `tarsel COMMAND --help` for each command.)";

int Main(int argc, char** argv) {
  InstallInterruptHandler();
  if (argc > 0) SetProgram(argv[0]);

  CLI::App app("tarsel: read, write and inspect video and audio with the Tarsel library", "tarsel");
  app.set_version_flag("--version", "tarsel " TARSEL_TOOL_VERSION);
  app.require_subcommand(0, 1);
  app.get_formatter()->column_width(26);
  std::vector<Subcommand> subcommands;
  for (AddSubcommand add : kSubcommands) subcommands.push_back(add(app));
  app.footer(kFooter);  // after the subcommands, which would inherit it

  if (argc < 2) {
    std::fputs(app.help().c_str(), stderr);
    return kUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? kSuccess : kUsage;
  }
  for (const Subcommand& subcommand : subcommands) {
    if (!subcommand.app->parsed()) continue;
    try {
      subcommand.run();
      return kSuccess;
    } catch (const Failure& failure) {
      if (*failure.what()) std::fprintf(stderr, "tarsel: %s\n", failure.what());
      return failure.code();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "tarsel: %s\n", error.what());
      return kFailed;
    }
  }
  return kUsage;
}

}  // namespace

void AddInputOptions(CLI::App& command, InputOptions& options, bool offerLive) {
  command
      .add_option("--timeout", options.timeout,
                  "Seconds a network input may take to open, and to deliver each picture or block "
                  "(0: no limit)")
      ->capture_default_str()
      ->check(SecondsValidator());
  if (!offerLive) return;
  command.add_flag("--live", options.live,
                   "Read forward only, as from a camera (chosen for rtsp://, rtmp://, udp://, "
                   "srt://)");
}

const CLI::Validator& SecondsValidator() {
  static const CLI::Validator seconds(
      [](std::string& text) {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        // !(value >= 0) also refuses NaN.
        if (end == text.c_str() || *end != '\0' || !(value >= 0) || value > 1e9) {
          return "not a number of seconds: " + text;
        }
        return std::string();
      },
      "SECONDS");
  return seconds;
}

void AddQuietOption(CLI::App& command, bool& quiet) {
  command.add_flag("-q,--quiet", quiet, "No progress on stderr");
}

}  // namespace tool

int main(int argc, char** argv) { return tool::Main(argc, argv); }
