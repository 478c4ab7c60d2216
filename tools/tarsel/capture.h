// Words for what the capture families report: device names and the subtypes of
// their formats.
#pragma once

#include <cstdint>
#include <string>

#include "tarsel.h"

namespace tool {

// Device names come one byte per UTF-16 code unit (its low byte), so they read
// as Latin-1; this gives them as UTF-8.
std::string Latin1ToUtf8(const std::string& text);

// "NV12", "YUY2", "RGB24" ... for a camera format; "PCM", "Float" ... for a
// microphone format.
std::string VideoSubtype(const TarselGuid& guid);
std::string AudioSubtype(const TarselGuid& guid);

// How many cameras and microphones the capture families find.
uint32_t CountCameras();
uint32_t CountMicrophones();

}  // namespace tool
