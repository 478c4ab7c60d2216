// tarsel sheet FILE -o sheet.png [--columns C --rows R --width W]: a contact
// sheet of evenly spaced pictures, each captioned with its index and time.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "codec_names.h"
#include "command.h"
#include "common.h"
#include "font.h"
#include "print_json.h"
#include "progress.h"

namespace tool {
namespace {

constexpr Bgr kBackground{28, 28, 28};
constexpr Bgr kEmptyTile{0, 0, 0};
constexpr Bgr kText{230, 230, 230};
constexpr Bgr kDimText{150, 150, 150};
constexpr int kMargin = 16;
constexpr int kGap = 12;
constexpr long long kMostPixels = 1LL << 28;

// Where everything goes on the sheet.
struct Layout {
  int columns, rows;
  int tileWidth, tileHeight;
  int captionScale, captionHeight;
  int headerScale, headerHeight;
  int width, height;

  int TileX(int k) const { return kMargin + k % columns * (tileWidth + kGap); }
  int TileY(int k) const {
    return headerHeight + k / columns * (tileHeight + captionHeight + kGap);
  }
};

Layout Plan(const SheetOptions& options, const VidInfo& info, int tiles) {
  Layout l{};
  l.columns = std::min(options.columns, tiles);
  l.rows = (tiles + l.columns - 1) / l.columns;
  l.width = options.width;
  l.tileWidth = (l.width - 2 * kMargin - (l.columns - 1) * kGap) / l.columns;
  if (l.tileWidth < 16) {
    throw Failure("a sheet " + std::to_string(l.width) + " pixels wide has no room for " +
                      std::to_string(l.columns) + " columns",
                  kUsage);
  }
  l.tileHeight = std::max(1, static_cast<int>(std::lround(double(l.tileWidth) * info.height /
                                                          std::max(1, info.width))));
  l.captionScale = l.tileWidth >= 240 ? 2 : 1;
  l.captionHeight = kCellHeight * l.captionScale + 8;
  l.headerScale = l.width >= 640 ? 2 : 1;
  l.headerHeight = kMargin + 2 * kCellHeight * l.headerScale + 6 + kMargin;
  l.height = l.headerHeight + l.rows * (l.tileHeight + l.captionHeight + kGap) - kGap + kMargin;
  if (static_cast<long long>(l.width) * l.height > kMostPixels) {
    throw Failure("a sheet of " + std::to_string(l.width) + " x " + std::to_string(l.height) +
                      " pixels is too large",
                  kUsage);
  }
  return l;
}

void DrawHeader(Picture& sheet, const Layout& l, const std::string& input, const VidInfo& info) {
  const std::string name = std::filesystem::path(input).filename().string();
  DrawText(sheet, kMargin, kMargin, name.empty() ? input : name, l.headerScale, kText);
  const std::string summary = std::to_string(info.width) + " x " + std::to_string(info.height) +
                              "   " + Number(info.frameRate) + " fps   " +
                              Count(info.frameCount, "frame") + "   " + ClockTime(info.duration) +
                              "   " + VideoCodecName(info.codecId);
  DrawText(sheet, kMargin, kMargin + kCellHeight * l.headerScale + 6, summary, l.headerScale,
           kDimText);
}

void DrawCaption(Picture& sheet, const Layout& l, const SheetTile& tile) {
  const int y = tile.y + tile.height + 4;
  DrawText(sheet, tile.x, y, "#" + std::to_string(tile.index), l.captionScale, kText);
  const std::string time = tile.delivered ? ClockTime(tile.time) : "missing";
  DrawText(sheet, tile.x + tile.width - TextWidth(time, l.captionScale) + l.captionScale, y, time,
           l.captionScale, tile.delivered ? kDimText : Bgr{80, 80, 230});
}

void PrintSheet(const SheetOptions& options, const SheetResult& result, bool json) {
  if (!json) {
    std::printf("%s: %d x %d pixels, %zu pictures\n", options.output.c_str(), result.width,
                result.height, result.tiles.size());
    return;
  }
  Json tiles = Json::array();
  for (const SheetTile& t : result.tiles) {
    tiles.push_back({{"index", t.index},
                     {"time", t.time},
                     {"x", t.x},
                     {"y", t.y},
                     {"width", t.width},
                     {"height", t.height},
                     {"delivered", t.delivered}});
  }
  const Json sheet = {{"path", options.output},
                      {"width", result.width},
                      {"height", result.height},
                      {"tiles", tiles}};
  PrintJson(sheet);
}

}  // namespace

SheetResult MakeSheet(const SheetOptions& options) {
  CheckNotTheInput(options.input, options.output);
  VideoInput video(options.input, options.in);
  const VidInfo& info = video.info();
  if (video.live() || info.frameCount <= 0) {
    throw Failure(About(options.input, "a sheet needs a file with a known number of pictures"));
  }
  const int tiles = static_cast<int>(
      std::min<long long>(static_cast<long long>(options.columns) * options.rows, info.frameCount));
  const Layout l = Plan(options, info, tiles);
  Picture sheet(l.width, l.height, kBackground);
  DrawHeader(sheet, l, options.input, info);

  SheetResult result{l.width, l.height, {}};
  Progress progress("sheet", tiles, options.quiet);
  Picture picture = video.NewPicture();
  for (int k = 0; k < tiles; ++k) {
    // The middle picture of each of `tiles` equal parts of the video.
    const auto index = static_cast<int32_t>((2LL * k + 1) * info.frameCount / (2LL * tiles));
    Stamp stamp;
    SheetTile tile{index, 0, l.TileX(k), l.TileY(k), l.tileWidth, l.tileHeight, false};
    tile.delivered = video.AtIndex(index, picture, stamp);
    if (tile.delivered) {
      tile.time = stamp.time;
      Place(sheet, Scale(picture, l.tileWidth, l.tileHeight), tile.x, tile.y);
    } else {
      FillRect(sheet, tile.x, tile.y, tile.width, tile.height, kEmptyTile);
    }
    DrawCaption(sheet, l, tile);
    result.tiles.push_back(tile);
    progress.Update(k + 1);
  }
  progress.Finish();
  WritePng(options.output, sheet);
  return result;
}

Subcommand AddSheet(CLI::App& tarsel) {
  auto options = std::make_shared<SheetOptions>();
  auto json = std::make_shared<bool>(false);
  CLI::App* command = tarsel.add_subcommand(
      "sheet", "A contact sheet (PNG) of evenly spaced pictures with their index and time");
  command->add_option("input", options->input, "Media file")->required()->type_name("FILE");
  command->add_option("-o,--output", options->output, "The PNG file to write")
      ->required()
      ->type_name("FILE");
  command->add_option("--columns", options->columns, "Pictures per row")
      ->capture_default_str()
      ->check(CLI::Range(1, 64));
  command->add_option("--rows", options->rows, "Rows of pictures")
      ->capture_default_str()
      ->check(CLI::Range(1, 64));
  command->add_option("--width", options->width, "Width of the sheet in pixels")
      ->capture_default_str()
      ->check(CLI::Range(64, 16384));
  command->add_flag("--json", *json, "Print where each picture is on the sheet, as JSON");
  AddInputOptions(*command, options->in, false);
  AddQuietOption(*command, options->quiet);
  return {command, [options, json] {
            const SheetResult result = MakeSheet(*options);
            PrintSheet(*options, result, *json);
            const auto missing = std::count_if(result.tiles.begin(), result.tiles.end(),
                                               [](const SheetTile& t) { return !t.delivered; });
            if (missing) {
              throw Failure(About(options->input,
                                  std::to_string(missing) + " of the pictures could not be read"));
            }
          }};
}

}  // namespace tool
