// File names outside ASCII reach FFmpeg as UTF-8, on Windows as on Linux: the
// library passes the caller's UTF-8 path through, and FFmpeg's file protocol
// turns it into UTF-16 for Windows. Exports of families that are not built
// are looked up at run time and their tests skip.
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

extern "C" {
#include <libavformat/avformat.h>
}

#include "support/test_support.h"
#include "tarsel.h"

namespace {

using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ScratchPath;

// "tarsel é ü ñ 日本 ф" in UTF-8: Latin-1, CJK and Cyrillic letters.
const std::string kNonAsciiStem =
    "tarsel_\xC3\xA9\xC3\xBC\xC3\xB1_\xE6\x97\xA5\xE6\x9C\xAC_\xD1\x84";

// An export of the library, or null when its family is not built.
template <class Function>
Function* FindExport(const char* name) {
#if defined(_WIN32)
  HMODULE library = GetModuleHandleA("tarsel.dll");
  if (!library) return nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(library, name)));
#else
  return reinterpret_cast<Function*>(dlsym(RTLD_DEFAULT, name));
#endif
}

std::filesystem::path Utf8Path(const std::string& utf8) { return std::filesystem::u8path(utf8); }

// The fixture copied to a scratch file with a non-ASCII name; returns the UTF-8 name.
std::string CopyToNonAsciiName(const std::string& fixture, const std::string& extension) {
  const std::string target = ScratchPath(kNonAsciiStem + extension);
  std::error_code error;
  std::filesystem::copy_file(Utf8Path(FixturePath(fixture)), Utf8Path(target),
                             std::filesystem::copy_options::overwrite_existing, error);
  EXPECT_FALSE(error) << "copying " << fixture << ": " << error.message();
  return target;
}

class NonAsciiPath : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& path : made_) {
      std::error_code ignored;
      std::filesystem::remove(Utf8Path(path), ignored);
    }
  }
  std::string Copy(const std::string& fixture, const std::string& extension) {
    made_.push_back(CopyToNonAsciiName(fixture, extension));
    return made_.back();
  }
  std::string Scratch(const std::string& extension) {
    made_.push_back(ScratchPath(kNonAsciiStem + extension));
    return made_.back();
  }

 private:
  std::vector<std::string> made_;
};

TEST_F(NonAsciiPath, FFmpegOpensAUtf8Name) {
  // A call into the library, so that the program imports it on Windows too
  // (where only a DLL that is called is loaded) and FindExport sees it.
  ASSERT_EQ(MFAudioGrabber_GrabAudio(), 0);
  const std::string path = Copy("windows_av.mp4", ".mp4");
  AVFormatContext* input = nullptr;
  ASSERT_EQ(avformat_open_input(&input, path.c_str(), nullptr, nullptr), 0) << path;
  EXPECT_GE(avformat_find_stream_info(input, nullptr), 0);
  const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  ASSERT_GE(video, 0);
  EXPECT_EQ(input->streams[video]->codecpar->width, 160);
  EXPECT_EQ(input->streams[video]->codecpar->height, 120);
  avformat_close_input(&input);
}

TEST_F(NonAsciiPath, VideoReaderOpensAUtf8Name) {
  auto* init = FindExport<decltype(VIDEO_Init)>("VIDEO_Init");
  auto* info = FindExport<decltype(VIDEO_getVideoInfo)>("VIDEO_getVideoInfo");
  auto* clear = FindExport<decltype(VIDEO_Clear)>("VIDEO_Clear");
  if (!init || !info || !clear) GTEST_SKIP() << "the video reader is not built";
  const std::string path = Copy("windows_av.mp4", ".mp4");
  void* reader = nullptr;
  ErrorText error;
  ASSERT_EQ(init(&reader, path.c_str(), 0, 0, nullptr, 0, error), 0) << error.text;
  int32_t width = 0, height = 0, frameCount = 0;
  double duration = 0, frameRate = 0;
  EXPECT_EQ(info(reader, &width, &height, &frameCount, &duration, &frameRate, error), 0);
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 120);
  EXPECT_EQ(clear(&reader), 0);
}

TEST_F(NonAsciiPath, VideoReaderNamesAMissingUtf8File) {
  auto* init = FindExport<decltype(VIDEO_Init)>("VIDEO_Init");
  if (!init) GTEST_SKIP() << "the video reader is not built";
  const std::string path = Scratch("_missing.mp4");
  void* reader = nullptr;
  ErrorText error;
  EXPECT_EQ(init(&reader, path.c_str(), 0, 0, nullptr, 0, error), 1);
  EXPECT_EQ(reader, nullptr);
  EXPECT_STREQ(error.text, "No such file or directory");
}

TEST_F(NonAsciiPath, AudioReaderOpensAUtf8Name) {
  auto* init = FindExport<decltype(AUDIO_Init)>("AUDIO_Init");
  auto* info = FindExport<decltype(AUDIO_GetAudioInfo)>("AUDIO_GetAudioInfo");
  auto* clear = FindExport<decltype(AUDIO_Clear)>("AUDIO_Clear");
  if (!init || !info || !clear) GTEST_SKIP() << "the audio reader is not built";
  const std::string path = Copy("windows_av.mp4", ".mp4");
  void* reader = nullptr;
  int32_t streamIndex = -1;
  ErrorText error;
  ASSERT_EQ(init(&reader, path.c_str(), &streamIndex, error), 0) << error.text;
  int32_t hasAudio = 0, channels = 0, sampleRate = 0, bufferSize = 0;
  double duration = 0;
  char codecName[200] = {};
  EXPECT_EQ(
      info(reader, &hasAudio, &channels, &sampleRate, &bufferSize, &duration, codecName, error), 0);
  EXPECT_EQ(hasAudio, 1);
  EXPECT_EQ(channels, 1);
  EXPECT_EQ(sampleRate, 44100);
  EXPECT_EQ(clear(&reader), 0);
}

TEST_F(NonAsciiPath, WriterCreatesAUtf8Name) {
  auto* writeEmpty = FindExport<decltype(VIDEO_TESTWriter)>("VIDEO_TESTWriter");
  if (!writeEmpty) GTEST_SKIP() << "the FFV1 writer is not built";
  const std::string path = Scratch(".mkv");
  ASSERT_EQ(writeEmpty(path.c_str()), 0);
  std::error_code error;
  EXPECT_TRUE(std::filesystem::is_regular_file(Utf8Path(path), error)) << path;
  EXPECT_GT(std::filesystem::file_size(Utf8Path(path), error), 0u);
}

}  // namespace
