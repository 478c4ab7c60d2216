// tarsel devices [--json]: the cameras and microphones the capture families
// find, with every format each one offers.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture.h"
#include "command.h"
#include "common.h"
#include "print_json.h"

namespace tool {
namespace {

constexpr int kNameBytes = 512;

struct Device {
  int index;
  std::string name;
  Json formats = Json::array();
  std::string error;
};

std::vector<Device> Cameras(std::string* error) {
  std::vector<Device> devices;
  void* grabber = nullptr;
  uint32_t count = 0;
  ErrorText text;
  if (MFCamGrabber_Init(&grabber, &count, text) != 0) {
    *error = "cameras: " + text.str();
    return devices;
  }
  for (uint32_t i = 0; i < count; ++i) {
    Device device{static_cast<int>(i), "", Json::array(), ""};
    char name[kNameBytes] = {};
    uint32_t copied = 0;
    MFCamGrabber_GetDeviceName(grabber, static_cast<int32_t>(i), name, &copied, kNameBytes - 1);
    device.name = Latin1ToUtf8(std::string(name, strnlen(name, copied)));
    uint32_t formats = 0;
    if (MFCamGrabber_OpenCamera(grabber, static_cast<int32_t>(i), false, &formats, text) != 0) {
      device.error = text.str();
    }
    for (uint32_t f = 0; device.error.empty() && f < formats; ++f) {
      CamConfig config{};
      MFCamGrabber_GetConfig(grabber, static_cast<int32_t>(f), &config, text);
      device.formats.push_back({{"index", f},
                                {"subtype", VideoSubtype(config.subtype)},
                                {"width", config.width},
                                {"height", config.height},
                                {"frameRateNumerator", config.frameRateNumerator},
                                {"frameRateDenominator", config.frameRateDenominator},
                                {"framesPerSecond", config.framesPerSecond}});
    }
    devices.push_back(std::move(device));
    // A grabber opens one camera: the next one needs a grabber of its own.
    MFCamGrabber_Clear(&grabber);
    if (i + 1 < count && MFCamGrabber_Init(&grabber, &count, text) != 0) {
      *error = "cameras: " + text.str();
      break;
    }
  }
  MFCamGrabber_Clear(&grabber);
  return devices;
}

std::vector<Device> Microphones(std::string* error) {
  std::vector<Device> devices;
  void* grabber = nullptr;
  uint32_t count = 0;
  ErrorText text;
  if (MFAudioGrabber_Init(&grabber, &count, text) != 0) {
    *error = "microphones: " + text.str();
    return devices;
  }
  for (uint32_t i = 0; i < count; ++i) {
    Device device{static_cast<int>(i), "", Json::array(), ""};
    char name[kNameBytes] = {};
    MFAudioGrabber_GetDeviceName(grabber, static_cast<int32_t>(i), name, kNameBytes - 1);
    device.name = Latin1ToUtf8(name);
    uint32_t formats = 0;
    if (MFAudioGrabber_OpenDevice(grabber, static_cast<int32_t>(i), false, &formats, text) != 0) {
      device.error = text.str();
    }
    for (uint32_t f = 0; device.error.empty() && f < formats; ++f) {
      AudioConfig config{};
      MFAudioGrabber_GetConfig(grabber, static_cast<int32_t>(f), &config, text);
      device.formats.push_back({{"index", f},
                                {"subtype", AudioSubtype(config.subtype)},
                                {"bitsPerSample", config.bitsPerSample},
                                {"channels", config.numChannels},
                                {"samplesPerSecond", config.samplesPerSecond},
                                {"blockAlignment", config.blockAlignment},
                                {"avgBytesPerSecond", config.avgBytesPerSecond},
                                {"allSamplesIndependent", config.allSamplesIndependent}});
    }
    devices.push_back(std::move(device));
    MFAudioGrabber_Clear(&grabber);
    if (i + 1 < count && MFAudioGrabber_Init(&grabber, &count, text) != 0) {
      *error = "microphones: " + text.str();
      break;
    }
  }
  MFAudioGrabber_Clear(&grabber);
  return devices;
}

Json DevicesJson(const std::vector<Device>& devices) {
  Json list = Json::array();
  for (const Device& d : devices) {
    Json device = {{"index", d.index}, {"name", d.name}, {"formats", d.formats}};
    if (!d.error.empty()) device["error"] = d.error;
    list.push_back(device);
  }
  return list;
}

std::string FrameRate(const Json& format) {
  const auto den = format["frameRateDenominator"].get<uint32_t>();
  if (den == 0) return "-";
  return Number(double(format["frameRateNumerator"].get<uint32_t>()) / den);
}

void PrintDevices(const char* title, const std::vector<Device>& devices, bool camera) {
  std::printf("%s\n", title);
  if (devices.empty()) std::printf("  none\n");
  for (const Device& d : devices) {
    std::printf("  %d  %s\n", d.index, d.name.c_str());
    if (!d.error.empty()) std::printf("       cannot be opened: %s\n", d.error.c_str());
    if (d.formats.empty()) continue;
    std::printf(camera ? "       #   format  size         fps\n"
                       : "       #   format  bits  channels  rate\n");
    for (const auto& f : d.formats) {
      if (camera) {
        const std::string size = std::to_string(f["width"].get<uint32_t>()) + " x " +
                                 std::to_string(f["height"].get<uint32_t>());
        std::printf("       %-3u %-7s %-12s %s\n", f["index"].get<uint32_t>(),
                    f["subtype"].get<std::string>().c_str(), size.c_str(), FrameRate(f).c_str());
      } else {
        std::printf("       %-3u %-7s %-5u %-9u %u Hz\n", f["index"].get<uint32_t>(),
                    f["subtype"].get<std::string>().c_str(), f["bitsPerSample"].get<uint32_t>(),
                    f["channels"].get<uint32_t>(), f["samplesPerSecond"].get<uint32_t>());
      }
    }
  }
}

void RunDevices(bool json) {
  std::string cameraError, microphoneError;
  const std::vector<Device> cameras = Cameras(&cameraError);
  const std::vector<Device> microphones = Microphones(&microphoneError);
  if (json) {
    const Json all = {{"cameras", DevicesJson(cameras)}, {"microphones", DevicesJson(microphones)}};
    PrintJson(all);
  } else {
    PrintDevices("Cameras", cameras, true);
    PrintDevices("Microphones", microphones, false);
    const char* fake = std::getenv("TARSEL_FAKE_DEVICES");
    if (cameras.empty() && microphones.empty() && !(fake && std::strcmp(fake, "1") == 0)) {
      std::printf(
          "(TARSEL_FAKE_DEVICES=1 adds a virtual camera and microphone for trying things)\n");
    }
  }
  bool failed = !cameraError.empty() || !microphoneError.empty();
  for (const auto* list : {&cameras, &microphones}) {
    for (const Device& d : *list) failed |= !d.error.empty();
  }
  for (const std::string* error : {&cameraError, &microphoneError}) {
    if (!error->empty()) std::fprintf(stderr, "tarsel: %s\n", error->c_str());
  }
  if (failed) throw Failure("");
}

}  // namespace

Subcommand AddDevices(CLI::App& tarsel) {
  auto json = std::make_shared<bool>(false);
  CLI::App* command =
      tarsel.add_subcommand("devices", "The cameras and microphones, with every format they offer");
  command->add_flag("--json", *json, "Print the list as JSON");
  return {command, [json] { RunDevices(*json); }};
}

}  // namespace tool
