#include "capture.h"

#include <cctype>
#include <cstdio>

namespace tool {

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Media Foundation subtypes are a FourCC (or a Direct3D format number) in the
// first field of a fixed GUID; audio ones a WAVE format tag.
std::string VideoSubtype(const TarselGuid& guid) {
  switch (guid.Data1) {
    case 20:
      return "RGB24";
    case 21:
      return "ARGB32";
    case 22:
      return "RGB32";
    case 23:
      return "RGB565";
    case 24:
      return "RGB555";
  }
  std::string fourcc;
  for (int shift = 0; shift < 32; shift += 8) {
    const char c = static_cast<char>(guid.Data1 >> shift & 0xFF);
    if (!std::isprint(static_cast<unsigned char>(c))) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(guid.Data1));
      return hex;
    }
    fourcc += c;
  }
  while (!fourcc.empty() && fourcc.back() == ' ') fourcc.pop_back();
  return fourcc;
}

std::string AudioSubtype(const TarselGuid& guid) {
  switch (guid.Data1) {
    case 1:
      return "PCM";
    case 3:
      return "Float";
    case 0x1610:
      return "AAC";
    case 0x55:
      return "MP3";
  }
  return "tag " + std::to_string(guid.Data1);
}

uint32_t CountCameras() {
  void* grabber = nullptr;
  uint32_t count = 0;
  char error[TARSEL_ERROR_TEXT_SIZE];
  if (MFCamGrabber_Init(&grabber, &count, error) != 0) return 0;
  MFCamGrabber_Clear(&grabber);
  return count;
}

uint32_t CountMicrophones() {
  void* grabber = nullptr;
  uint32_t count = 0;
  char error[TARSEL_ERROR_TEXT_SIZE];
  if (MFAudioGrabber_Init(&grabber, &count, error) != 0) return 0;
  MFAudioGrabber_Clear(&grabber);
  return count;
}

}  // namespace tool
