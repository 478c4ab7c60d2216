// Frame access: the picture for index N is the ffmpeg tool's picture N, however
// the caller reaches it.
#include <cmath>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "reader_support.h"
#include "support/test_support.h"
#include "tarsel.h"

using reader_test::AtIndex;
using reader_test::AtTime;
using reader_test::Delivery;
using reader_test::kNotInitialized;
using reader_test::Md5Of;
using reader_test::Next;
using reader_test::Picture;
using reader_test::Reader;
using reader_test::ReferenceMd5s;
using reader_test::ReferencePictures;
using tarsel_test::ErrorText;

namespace {

constexpr int kW = 128, kH = 96;

// Reads every picture in sequence; checks indices and times on the way.
// Times are the container's, which may round them (Matroska to 1 ms).
std::vector<std::string> SequentialMd5s(void* reader, double rate, double timeSlack = 1e-6) {
  std::vector<std::string> sums;
  Picture picture;
  for (;;) {
    const Delivery d = Next(reader, &picture, kW, kH);
    if (d.result != 0) break;
    EXPECT_EQ(d.index, sums.size());
    EXPECT_NEAR(d.time, sums.size() / rate, timeSlack) << "picture " << sums.size();
    EXPECT_EQ(d.time, d.timeAgain);
    sums.push_back(Md5Of(picture));
  }
  return sums;
}

// The exact-index property on one clip: sequence, random indices, skips.
void CheckEveryRoute(const char* clip, const char* md5s, double rate, double timeSlack = 1e-6) {
  SCOPED_TRACE(clip);
  const std::vector<std::string> expected = ReferenceMd5s(md5s);
  ASSERT_FALSE(expected.empty());
  Reader reader(clip);
  ASSERT_TRUE(reader.ok()) << reader.error();
  EXPECT_EQ(reader.Info().frameCount, static_cast<int>(expected.size()));
  EXPECT_EQ(SequentialMd5s(reader.handle(), rate, timeSlack), expected);

  std::mt19937 random(7);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(expected.size()) - 1);
  Picture picture;
  for (int i = 0; i < 25; ++i) {
    const int index = i == 0 ? static_cast<int>(expected.size()) - 1 : pick(random);
    const Delivery d = AtIndex(reader.handle(), index, &picture, kW, kH);
    ASSERT_EQ(d.result, 0) << "index " << index;
    EXPECT_EQ(d.index, static_cast<uint32_t>(index));
    EXPECT_NEAR(d.time, index / rate, timeSlack);
    EXPECT_EQ(Md5Of(picture), expected[index]) << "index " << index;
    // The next picture in sequence follows it.
    if (index + 1 < static_cast<int>(expected.size())) {
      const Delivery n = Next(reader.handle(), &picture, kW, kH);
      ASSERT_EQ(n.result, 0);
      EXPECT_EQ(n.index, static_cast<uint32_t>(index + 1));
      EXPECT_EQ(Md5Of(picture), expected[index + 1]) << "after index " << index;
    }
  }
  ErrorText errorText;
  ASSERT_EQ(VIDEO_Rewind(reader.handle(), errorText), 0);
  ASSERT_EQ(VIDEO_SkipFrames(reader.handle(), 10, errorText), 0);
  const Delivery skipped = Next(reader.handle(), &picture, kW, kH);
  ASSERT_EQ(skipped.result, 0);
  EXPECT_EQ(skipped.index, 10u);
  EXPECT_EQ(Md5Of(picture), expected[10]);
}

}  // namespace

TEST(VideoFrames, SequenceEndsAfterDrainingTheDecoder) {
  const auto expected = ReferencePictures("reader_bframes.bgr", kW, kH);
  ASSERT_EQ(expected.size(), 100u);
  Reader reader("reader_bframes.mp4");
  ASSERT_TRUE(reader.ok()) << reader.error();
  Picture picture;
  for (int i = 0; i < 100; ++i) {
    const Delivery d = Next(reader.handle(), &picture, kW, kH);
    ASSERT_EQ(d.result, 0) << i;
    EXPECT_EQ(d.index, static_cast<uint32_t>(i));
    EXPECT_DOUBLE_EQ(d.time, i * 0.04);
    EXPECT_EQ(picture, expected[i]) << "picture " << i;
  }
  ErrorText errorText;
  const Delivery end = Next(reader.handle(), &picture, kW, kH);
  EXPECT_EQ(end.result, 1);
  EXPECT_EQ(end.index, 99u);  // the out-values still hold the reader's position
  char untouched[200];
  std::memset(untouched, 'x', sizeof untouched);
  uint32_t index;
  double time, again;
  EXPECT_EQ(
      VIDEO_getNextFrame(reader.handle(), picture.data(), kW * 3, &index, &time, &again, untouched),
      1);
  EXPECT_EQ(untouched[0], 'x');
}

TEST(VideoFrames, BFramesMp4EveryRouteGivesTheSamePicture) {
  CheckEveryRoute("reader_bframes.mp4", "reader_bframes.md5", 25.0);
}

TEST(VideoFrames, LongGopEveryRouteGivesTheSamePicture) {
  CheckEveryRoute("reader_gop250.mp4", "reader_gop250.md5", 25.0);
}

TEST(VideoFrames, TransportStreamNumbersFromItsStart) {
  CheckEveryRoute("reader_bframes.ts", "reader_bframes_ts.md5", 25.0);
}

TEST(VideoFrames, MatroskaMillisecondTicksKeepExactIndices) {
  CheckEveryRoute("reader_60.mkv", "reader_60_mkv.md5", 60.0, 0.0005);
}

TEST(VideoFrames, AviWithBFramesNumbersEachPictureInItsSlot) {
  CheckEveryRoute("reader_mpeg4.avi", "reader_mpeg4_avi.md5", 25.0);
}

TEST(VideoFrames, SequentialTransportStreamDeliversEveryPicture) {
  const auto expected = ReferenceMd5s("reader_bframes_ts.md5");
  Reader reader("reader_bframes.ts", false, true);
  ASSERT_TRUE(reader.ok()) << reader.error();
  EXPECT_EQ(SequentialMd5s(reader.handle(), 25.0), expected);
}

TEST(VideoFrames, RawStreamDeliversEveryPictureAndRewinds) {
  const auto expected = ReferencePictures("reader_raw.bgr", kW, kH);
  ASSERT_EQ(expected.size(), 40u);
  Reader reader("reader_raw.h264");
  ASSERT_TRUE(reader.ok()) << reader.error();
  Picture picture;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < 40; ++i) {
      const Delivery d = Next(reader.handle(), &picture, kW, kH);
      ASSERT_EQ(d.result, 0) << i;
      EXPECT_EQ(d.index, static_cast<uint32_t>(i));
      EXPECT_EQ(picture, expected[i]) << i;
    }
    EXPECT_EQ(Next(reader.handle(), &picture, kW, kH).result, 1);
    ErrorText errorText;
    EXPECT_EQ(VIDEO_Rewind(reader.handle(), errorText), 0);
  }
  const Delivery d = AtIndex(reader.handle(), 25, &picture, kW, kH);
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(picture, expected[25]);
}

// Picture 10 is missing: picture 11 stands in for index 10 and then for itself.
TEST(VideoFrames, GapRepeatsThePictureAfterIt) {
  const auto pictures = ReferencePictures("reader_gap.bgr", kW, kH);
  ASSERT_EQ(pictures.size(), 30u);
  for (bool withPixels : {true, false}) {
    SCOPED_TRACE(withPixels ? "with pixels" : "without pixels at the gap");
    Reader reader("reader_gap.mp4");
    ASSERT_TRUE(reader.ok()) << reader.error();
    EXPECT_EQ(reader.Info().frameCount, 31);
    Picture picture;
    for (int i = 0; i < 31; ++i) {
      // Without pixels, the picture held for the repeat is still kept.
      const bool skipCopy = !withPixels && i == 10;
      const Delivery d = Next(reader.handle(), skipCopy ? nullptr : &picture, kW, kH);
      ASSERT_EQ(d.result, 0) << i;
      EXPECT_EQ(d.index, static_cast<uint32_t>(i));
      const int source = i < 10 ? i : i == 10 ? 10 : i - 1;
      EXPECT_NEAR(d.time, (i == 10 ? 11 : i) * 0.04, 1e-9) << i;
      if (!skipCopy) {
        EXPECT_EQ(picture, pictures[source]) << "index " << i;
      }
    }
    EXPECT_EQ(Next(reader.handle(), &picture, kW, kH).result, 1);
  }
}

TEST(VideoFrames, IndexBoundsLeaveTheReaderAlone) {
  const auto expected = ReferenceMd5s("reader_bframes.md5");
  Reader reader("reader_bframes.mp4");
  ASSERT_TRUE(reader.ok());
  Picture picture;
  ASSERT_EQ(AtIndex(reader.handle(), 0, &picture, kW, kH).result, 0);
  EXPECT_EQ(Md5Of(picture), expected[0]);
  ASSERT_EQ(AtIndex(reader.handle(), 50, &picture, kW, kH).result, 0);
  EXPECT_EQ(Md5Of(picture), expected[50]);
  Delivery untouched;
  untouched.index = 1234;
  EXPECT_EQ(AtIndex(reader.handle(), 100, &picture, kW, kH).result, 1);
  EXPECT_EQ(AtIndex(reader.handle(), -1, &picture, kW, kH).result, 1);
  EXPECT_EQ(AtIndex(reader.handle(), INT32_MIN, &picture, kW, kH).result, 1);
  // The position is still after index 50.
  const Delivery d = Next(reader.handle(), &picture, kW, kH);
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.index, 51u);
  EXPECT_EQ(Md5Of(picture), expected[51]);
}

TEST(VideoFrames, TimeAccessNeedsTheDurationFirst) {
  const auto expected = ReferenceMd5s("reader_bframes_ts.md5");
  Reader reader("reader_bframes.ts");
  ASSERT_TRUE(reader.ok());
  Picture picture;
  EXPECT_EQ(AtTime(reader.handle(), 0.0, &picture, kW, kH).result, 1);
  EXPECT_EQ(AtTime(reader.handle(), 1.0, &picture, kW, kH).result, 1);
  const VidInfo info = reader.Info();
  ASSERT_DOUBLE_EQ(info.duration, 4.0);
  Delivery d = AtTime(reader.handle(), 0.0, &picture, kW, kH);
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.index, 0u);
  EXPECT_EQ(Md5Of(picture), expected[0]);
  for (double t : {1.0, 2.5, 0.99, 3.96}) {
    d = AtTime(reader.handle(), t, &picture, kW, kH);
    ASSERT_EQ(d.result, 0) << t;
    const int index = static_cast<int>(std::ceil(t * 25 - 1e-9));
    EXPECT_EQ(d.index, static_cast<uint32_t>(index)) << t;
    EXPECT_NEAR(d.time, index * 0.04, 1e-9) << t;
    EXPECT_EQ(Md5Of(picture), expected[index]) << t;
  }
  EXPECT_EQ(AtTime(reader.handle(), 4.0, &picture, kW, kH).result, 1);
  EXPECT_EQ(AtTime(reader.handle(), 100.0, &picture, kW, kH).result, 1);
  EXPECT_EQ(AtTime(reader.handle(), -1.0, &picture, kW, kH).result, 1);
  EXPECT_EQ(AtTime(reader.handle(), std::nan(""), &picture, kW, kH).result, 1);
  EXPECT_EQ(AtTime(reader.handle(), INFINITY, &picture, kW, kH).result, 1);
}

TEST(VideoFrames, ReadAllFramesCountsRawTimestamps) {
  Reader reader("reader_bframes.mp4");
  ASSERT_TRUE(reader.ok());
  uint32_t count = 0, num = 0, den = 0;
  int64_t first = 0, last = 0;
  ErrorText errorText;
  ASSERT_EQ(VIDEO_ReadAllFrames(reader.handle(), &count, &first, &last, &num, &den, errorText), 0);
  EXPECT_TRUE(errorText.AllZero());
  EXPECT_EQ(count, 100u);
  EXPECT_EQ(num, 1u);
  EXPECT_EQ(den, 12800u);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 99 * 512);
  Picture picture;
  EXPECT_EQ(Next(reader.handle(), &picture, kW, kH).result, 1);
  EXPECT_EQ(Next(reader.handle(), &picture, kW, kH).result, 1);
  EXPECT_EQ(VIDEO_Rewind(reader.handle(), errorText), 0);
  const Delivery d = Next(reader.handle(), &picture, kW, kH);
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.index, 0u);
  EXPECT_EQ(VIDEO_TEST(reader.handle(), errorText), 0);
  EXPECT_EQ(Next(reader.handle(), &picture, kW, kH).result, 1);
}

TEST(VideoFrames, SetFrameRateRenumbersTheStream) {
  const auto expected = ReferenceMd5s("reader_bframes.md5");
  Reader reader("reader_bframes.mp4");
  ASSERT_TRUE(reader.ok());
  ErrorText errorText;
  for (double bad : std::initializer_list<double>{0.0, -5.0, std::nan(""), INFINITY}) {
    EXPECT_EQ(VIDEO_SetFrameRate(reader.handle(), bad, errorText), 0);
    EXPECT_EQ(reader.Info().frameCount, 100);
    EXPECT_DOUBLE_EQ(reader.Info().frameRate, 25.0);
  }
  EXPECT_EQ(VIDEO_SetFrameRate(reader.handle(), 50.0, errorText), 0);
  VidInfo info = reader.Info();
  EXPECT_EQ(info.frameCount, 200);
  EXPECT_DOUBLE_EQ(info.frameRate, 50.0);
  // At twice the rate each picture stands for two indices.
  Picture picture;
  for (int i = 0; i < 6; ++i) {
    const Delivery d = Next(reader.handle(), &picture, kW, kH);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.index, static_cast<uint32_t>(i));
    EXPECT_EQ(Md5Of(picture), expected[(i + 1) / 2]) << i;
  }
  EXPECT_EQ(VIDEO_SetFrameRate(reader.handle(), 12.5, errorText), 0);
  EXPECT_EQ(reader.Info().frameCount, 50);
}

TEST(VideoFrames, StrideLayouts) {
  const auto expected = ReferencePictures("reader_bframes.bgr", kW, kH);
  const int row = kW * 3;
  for (int padding : {0, 64, 5, 1}) {
    for (int direction : {1, -1}) {
      SCOPED_TRACE(testing::Message() << "padding " << padding << " direction " << direction);
      Reader reader("reader_bframes.mp4");
      ASSERT_TRUE(reader.ok());
      const int pitch = row + padding;
      // One spare byte before the buffer shifts the rows off any alignment.
      std::vector<uint8_t> buffer(static_cast<std::size_t>(pitch) * kH + 1, 0xEE);
      uint8_t* base = buffer.data() + (padding % 2);
      uint8_t* first = direction > 0 ? base : base + static_cast<std::ptrdiff_t>(pitch) * (kH - 1);
      uint32_t index;
      double time, again;
      char errorText[200];
      ASSERT_EQ(VIDEO_getNextFrame(reader.handle(), first, direction * pitch, &index, &time, &again,
                                   errorText),
                0);
      for (int y = 0; y < kH; ++y) {
        const int memoryRow = direction > 0 ? y : kH - 1 - y;
        const uint8_t* rowStart = base + static_cast<std::ptrdiff_t>(memoryRow) * pitch;
        ASSERT_EQ(std::memcmp(rowStart, expected[0].data() + y * row, row), 0) << "row " << y;
        for (int k = row; k < pitch; ++k) ASSERT_EQ(rowStart[k], 0xEE) << "row " << y;
      }
      if (padding % 2) {
        EXPECT_EQ(buffer[0], 0xEE);
      }
    }
  }
}

TEST(VideoFrames, StrideTooSmallIsRefused) {
  Reader reader("reader_bframes.mp4");
  ASSERT_TRUE(reader.ok());
  std::vector<uint8_t> buffer(kW * 3 * kH, 0xEE);
  uint32_t index = 77;
  double time = -3, again = -3;
  ErrorText errorText;
  for (int stride : {kW * 3 - 1, 0, 1, -(kW * 3 - 1)}) {
    EXPECT_EQ(VIDEO_getNextFrame(reader.handle(), buffer.data(), stride, &index, &time, &again,
                                 errorText),
              1);
    EXPECT_EQ(VIDEO_getFrameWithIndex(reader.handle(), buffer.data(), stride, 3, &index, &time,
                                      &again, errorText),
              1);
  }
  EXPECT_TRUE(errorText.Untouched());
  for (uint8_t byte : buffer) ASSERT_EQ(byte, 0xEE);
  // Nothing was consumed: the first picture is still next.
  Picture picture;
  EXPECT_EQ(Next(reader.handle(), &picture, kW, kH).index, 0u);
}

// libswscale's SIMD row writers are inexact at these widths with tightly packed
// rows; the reader's pictures equal the ffmpeg tool's and stay inside the rows.
TEST(VideoFrames, OddWidthsAreExactAndStayInTheirRows) {
  struct Case {
    const char* clip;
    const char* reference;
    int width, height;
  } cases[] = {{"reader_854.mp4", "reader_854.bgr", 854, 480},
               {"reader_1366.mp4", "reader_1366.bgr", 1366, 768}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip);
    const auto expected = ReferencePictures(c.reference, c.width, c.height);
    ASSERT_FALSE(expected.empty());
    const int row = c.width * 3;
    for (int padding : {0, 48}) {
      Reader reader(c.clip);
      ASSERT_TRUE(reader.ok());
      const int pitch = row + padding;
      // The buffer ends right after the last row.
      std::vector<uint8_t> buffer(static_cast<std::size_t>(pitch) * (c.height - 1) + row, 0xEE);
      for (std::size_t i = 0; i < expected.size(); ++i) {
        uint32_t index;
        double time, again;
        char errorText[200];
        ASSERT_EQ(VIDEO_getNextFrame(reader.handle(), buffer.data(), pitch, &index, &time, &again,
                                     errorText),
                  0);
        for (int y = 0; y < c.height; ++y) {
          const uint8_t* rowStart = buffer.data() + static_cast<std::size_t>(y) * pitch;
          ASSERT_EQ(
              std::memcmp(rowStart, expected[i].data() + static_cast<std::size_t>(y) * row, row), 0)
              << "picture " << i << " row " << y;
          if (y + 1 < c.height) {
            for (int k = row; k < pitch; ++k) ASSERT_EQ(rowStart[k], 0xEE);
          }
        }
      }
    }
  }
}

namespace {
double MeanDifference(const Picture& a, const Picture& b) {
  double sum = 0;
  for (std::size_t k = 0; k < a.size(); ++k) sum += std::abs(a[k] - b[k]);
  return sum / a.size();
}
}  // namespace

// The second half of the clip is 176x144, delivered at the first half's size.
// Scaled pictures are compared loosely (the tool's filter chain scales in two
// steps), but each must be its own picture, not a stale or scrambled one.
TEST(VideoFrames, SizeChangeMidStreamRebuildsTheConverter) {
  const auto expected = ReferencePictures("reader_sizechange.bgr", kW, kH);
  ASSERT_EQ(expected.size(), 20u);
  Reader reader("reader_sizechange.ts");
  ASSERT_TRUE(reader.ok());
  EXPECT_EQ(reader.Info().width, kW);
  Picture picture;
  for (int i = 0; i < 20; ++i) {
    const Delivery d = Next(reader.handle(), &picture, kW, kH);
    ASSERT_EQ(d.result, 0) << i;
    if (i < 10) {
      EXPECT_EQ(picture, expected[i]) << i;
      continue;
    }
    const double own = MeanDifference(picture, expected[i]);
    EXPECT_LT(own, 4.0) << "picture " << i;
    EXPECT_LT(own * 1.5, MeanDifference(picture, expected[i - 1])) << "picture " << i;
  }
}

TEST(VideoFrames, TruncatedFileDeliversWhatDecodes) {
  const auto expected = ReferenceMd5s("reader_bframes_ts.md5");
  Reader reader("reader_truncated.ts");
  ASSERT_TRUE(reader.ok()) << reader.error();
  Picture picture;
  int delivered = 0;
  while (Next(reader.handle(), &picture, kW, kH).result == 0 && delivered < 200) ++delivered;
  EXPECT_GT(delivered, 5);
  EXPECT_LT(delivered, 100);
  EXPECT_EQ(Next(reader.handle(), &picture, kW, kH).result, 1);
}

TEST(VideoFrames, LiveModeReadsForwardOnly) {
  const auto expected = ReferenceMd5s("reader_bframes.md5");
  Reader reader("reader_bframes.mp4", true);
  ASSERT_TRUE(reader.ok()) << reader.error();
  const VidInfo before = reader.Info();
  ErrorText errorText;
  Picture picture;
  for (int i = 0; i < 5; ++i) {
    const Delivery d = Next(reader.handle(), &picture, kW, kH);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.index, static_cast<uint32_t>(i));
    EXPECT_EQ(Md5Of(picture), expected[i]);
  }
  EXPECT_EQ(VIDEO_Rewind(reader.handle(), errorText), 0);
  EXPECT_EQ(VIDEO_SetFrameRate(reader.handle(), 50.0, errorText), 0);
  EXPECT_EQ(reader.Info().frameRate, before.frameRate);
  EXPECT_EQ(AtTime(reader.handle(), 0.0, &picture, kW, kH).result, 1);
  // The rewind changed nothing: the sequence goes on.
  const Delivery d = Next(reader.handle(), &picture, kW, kH);
  EXPECT_EQ(d.index, 5u);
  EXPECT_EQ(Md5Of(picture), expected[5]);
}

TEST(VideoFrames, NullHandleGivesTheReadersMessage) {
  uint8_t pixels[3];
  uint32_t index;
  double time, again;
  int64_t pts;
  ErrorText a, b, c, d, e, f, g, h;
  EXPECT_EQ(VIDEO_getNextFrame(nullptr, pixels, 3, &index, &time, &again, a), 1);
  EXPECT_EQ(VIDEO_getFrameWithTimeStamp(nullptr, pixels, 3, 0.0, &index, &time, &again, b), 1);
  EXPECT_EQ(VIDEO_getFrameWithIndex(nullptr, pixels, 3, 0, &index, &time, &again, c), 1);
  EXPECT_EQ(VIDEO_Rewind(nullptr, d), 1);
  EXPECT_EQ(VIDEO_SkipFrames(nullptr, 1, e), 1);
  EXPECT_EQ(VIDEO_ReadAllFrames(nullptr, &index, &pts, &pts, &index, &index, f), 1);
  EXPECT_EQ(VIDEO_SetFrameRate(nullptr, 25.0, g), 1);
  EXPECT_EQ(VIDEO_TEST(nullptr, h), 1);
  for (ErrorText* text : {&a, &b, &c, &d, &e, &f, &g, &h})
    EXPECT_STREQ(text->text, kNotInitialized);
}
