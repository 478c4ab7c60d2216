#include "reader_support.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

extern "C" {
#include <libavutil/md5.h>
}

namespace reader_test {

Reader::Reader(const std::string& fixture, bool live, bool sequential, bool applyAspect) {
  const std::string path = tarsel_test::FixturePath(fixture);
  VIDEO_Init(&handle_, path.c_str(), live, applyAspect, nullptr, sequential, errorText_);
}

Reader::~Reader() { VIDEO_Clear(&handle_); }

VidInfo Reader::Info() {
  VidInfo info{};
  VIDEO_getVidInfoStruct(handle_, &info, errorText_);
  return info;
}

namespace {

uint8_t* Prepare(Picture* picture, int width, int height) {
  if (!picture) return nullptr;
  picture->assign(static_cast<std::size_t>(width) * height * 3, 0);
  return picture->data();
}

}  // namespace

Delivery Next(void* reader, Picture* picture, int width, int height) {
  Delivery d;
  char errorText[200];
  d.result = VIDEO_getNextFrame(reader, Prepare(picture, width, height), width * 3, &d.index,
                                &d.time, &d.timeAgain, errorText);
  return d;
}

Delivery AtIndex(void* reader, int32_t index, Picture* picture, int width, int height) {
  Delivery d;
  char errorText[200];
  d.result = VIDEO_getFrameWithIndex(reader, Prepare(picture, width, height), width * 3, index,
                                     &d.index, &d.time, &d.timeAgain, errorText);
  return d;
}

Delivery AtTime(void* reader, double seconds, Picture* picture, int width, int height) {
  Delivery d;
  char errorText[200];
  d.result = VIDEO_getFrameWithTimeStamp(reader, Prepare(picture, width, height), width * 3,
                                         seconds, &d.index, &d.time, &d.timeAgain, errorText);
  return d;
}

std::vector<Picture> ReferencePictures(const std::string& fixture, int width, int height) {
  const std::vector<uint8_t> bytes = tarsel_test::ReadFile(tarsel_test::FixturePath(fixture));
  const std::size_t size = static_cast<std::size_t>(width) * height * 3;
  std::vector<Picture> pictures;
  for (std::size_t offset = 0; offset + size <= bytes.size(); offset += size)
    pictures.emplace_back(bytes.begin() + offset, bytes.begin() + offset + size);
  return pictures;
}

std::vector<std::string> ReferenceMd5s(const std::string& fixture) {
  std::ifstream in(tarsel_test::FixturePath(fixture));
  std::vector<std::string> sums;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t comma = line.rfind(',');
    std::string sum = line.substr(comma + 1);
    sum.erase(0, sum.find_first_not_of(' '));
    sums.push_back(sum);
  }
  return sums;
}

std::string Md5Of(const Picture& picture) {
  uint8_t digest[16];
  av_md5_sum(digest, picture.data(), static_cast<int>(picture.size()));
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

std::map<std::string, std::string> ReadProbe(const std::string& fixture) {
  std::ifstream in(tarsel_test::FixturePath(fixture));
  std::map<std::string, std::string> values;
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

}  // namespace reader_test
