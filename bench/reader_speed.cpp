// How fast the video reader hands out 1080p pictures, against a bare FFmpeg loop
// with the same threading and against OpenCV (when python3 with cv2 is there).
//   bench_reader_speed [seconds]
// Makes its clips with the ffmpeg tool in a temporary folder, removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
#include <libswscale/swscale.h>
}

#include "tarsel.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920, kHeight = 1080, kRate = 30;
constexpr int kRandomAccesses = 50;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Run(const std::string& command) {
  std::printf("$ %s\n", command.c_str());
  std::fflush(stdout);
  return std::system(command.c_str()) == 0;
}

std::string Md5(const uint8_t* data, std::size_t size) {
  uint8_t digest[16];
  av_md5_sum(digest, data, static_cast<int>(size));
  char text[33];
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

// Processor time of the whole process (all threads), less disturbed than the
// wall clock when other programs share the machine.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Sequential {
  double fps = 0;
  double cpuMsPerFrame = 0;
  std::vector<std::string> md5s;
};

// VIDEO_getNextFrame into a caller buffer.
Sequential LibrarySequential(const std::string& path, bool hash) {
  Sequential result;
  void* reader = nullptr;
  char errorText[200];
  if (VIDEO_Init(&reader, path.c_str(), 0, 0, nullptr, 0, errorText) != 0) {
    std::printf("VIDEO_Init failed: %s\n", errorText);
    return result;
  }
  std::vector<uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  uint32_t index;
  double time, again;
  int frames = 0;
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  while (VIDEO_getNextFrame(reader, pixels.data(), kWidth * 3, &index, &time, &again, errorText) ==
         0) {
    ++frames;
    if (hash) result.md5s.push_back(Md5(pixels.data(), pixels.size()));
  }
  result.fps = frames / SecondsSince(start);
  result.cpuMsPerFrame = (CpuSeconds() - cpuStart) * 1000.0 / frames;
  VIDEO_Clear(&reader);
  return result;
}

// The bare FFmpeg loop: read, send, receive, convert to BGR24, same threading.
Sequential BareLoop(const std::string& path) {
  Sequential result;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return result;
  avformat_find_stream_info(format, nullptr);
  const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodec* codec = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(context, format->streams[stream]->codecpar);
  context->thread_count = 0;
  context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  avcodec_open2(context, codec, nullptr);
  SwsContext* scaler =
      sws_getContext(context->width, context->height, context->pix_fmt, kWidth, kHeight,
                     AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  std::vector<uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  uint8_t* planes[4] = {pixels.data()};
  int strides[4] = {kWidth * 3};
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  int frames = 0;
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  auto receive = [&] {
    while (avcodec_receive_frame(context, frame) == 0) {
      sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
      ++frames;
    }
  };
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == stream) {
      avcodec_send_packet(context, packet);
      receive();
    }
    av_packet_unref(packet);
  }
  avcodec_send_packet(context, nullptr);
  receive();
  result.fps = frames / SecondsSince(start);
  result.cpuMsPerFrame = (CpuSeconds() - cpuStart) * 1000.0 / frames;
  av_frame_free(&frame);
  av_packet_free(&packet);
  sws_freeContext(scaler);
  avcodec_free_context(&context);
  avformat_close_input(&format);
  return result;
}

struct RandomAccess {
  double msPerAccess = 0;
  double cpuMsPerAccess = 0;
  int exact = 0;
};

RandomAccess LibraryRandom(const std::string& path, const std::vector<int>& indices,
                           const std::vector<std::string>& sequential) {
  RandomAccess result;
  void* reader = nullptr;
  char errorText[200];
  if (VIDEO_Init(&reader, path.c_str(), 0, 0, nullptr, 0, errorText) != 0) return result;
  std::vector<uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  uint32_t index;
  double time, again;
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  std::vector<std::string> got;
  for (int wanted : indices) {
    if (VIDEO_getFrameWithIndex(reader, pixels.data(), kWidth * 3, wanted, &index, &time, &again,
                                errorText) == 0)
      got.push_back(Md5(pixels.data(), pixels.size()));
    else
      got.emplace_back();
  }
  result.msPerAccess = SecondsSince(start) * 1000.0 / indices.size();
  result.cpuMsPerAccess = (CpuSeconds() - cpuStart) * 1000.0 / indices.size();
  for (std::size_t i = 0; i < indices.size(); ++i)
    if (static_cast<std::size_t>(indices[i]) < sequential.size() &&
        got[i] == sequential[indices[i]])
      ++result.exact;
  VIDEO_Clear(&reader);
  return result;
}

constexpr char kOpenCvScript[] = R"(
import sys, time, hashlib
import cv2
path, mode = sys.argv[1], sys.argv[2]
cap = cv2.VideoCapture(path, cv2.CAP_FFMPEG)
if mode == 'sequential':
    n = 0
    start = time.perf_counter()
    cpu = time.process_time()
    while True:
        ok, frame = cap.read()
        if not ok:
            break
        n += 1
    print('fps', n / (time.perf_counter() - start))
    print('cpu_ms', (time.process_time() - cpu) * 1000 / n)
else:
    indices = [int(i) for i in sys.argv[3].split(',')]
    sums = []
    while True:
        ok, frame = cap.read()
        if not ok:
            break
        sums.append(hashlib.md5(frame.tobytes()).hexdigest())
    exact = 0
    start = time.perf_counter()
    cpu = time.process_time()
    got = []
    for i in indices:
        cap.set(cv2.CAP_PROP_POS_FRAMES, i)
        ok, frame = cap.read()
        got.append(hashlib.md5(frame.tobytes()).hexdigest() if ok else '')
    elapsed = time.perf_counter() - start
    print('cpu_ms', (time.process_time() - cpu) * 1000 / len(indices))
    exact = sum(1 for i, g in zip(indices, got) if i < len(sums) and g == sums[i])
    print('ms', elapsed * 1000 / len(indices))
    print('exact', exact)
)";

// Runs the OpenCV script; returns its "key value" lines.
std::vector<std::pair<std::string, double>> OpenCv(const std::string& python,
                                                   const fs::path& folder,
                                                   const std::string& arguments) {
  std::vector<std::pair<std::string, double>> values;
  const fs::path script = folder / "opencv_read.py";
  const fs::path output = folder / "opencv.txt";
  std::ofstream(script) << kOpenCvScript;
  if (!Run(python + " " + script.string() + " " + arguments + " > " + output.string()))
    return values;
  std::ifstream in(output);
  std::string key;
  double value;
  while (in >> key >> value) values.emplace_back(key, value);
  return values;
}

double ValueOf(const std::vector<std::pair<std::string, double>>& values, const std::string& key) {
  for (const auto& [name, value] : values)
    if (name == key) return value;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  const fs::path folder =
      fs::temp_directory_path() / ("tarsel_reader_bench_" + std::to_string(std::random_device{}()));
  fs::create_directories(folder);
  const std::string clip = (folder / "clip_1080p.mp4").string();
  const std::string longGop = (folder / "clip_1080p_gop250.mp4").string();
  const std::string source =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
      "testsrc2=size=1920x1080:rate=" +
      std::to_string(kRate) + " -t " + std::to_string(seconds) +
      " -c:v libx264 -preset veryfast -pix_fmt yuv420p ";
  if (!Run(source + clip) || !Run(source + "-g 250 -keyint_min 250 -sc_threshold 0 " + longGop)) {
    std::printf("could not make the clips\n");
    return 1;
  }
  // The first python3 that has cv2 (a version manager's may shadow Debian's).
  std::string python;
  for (const char* candidate : {"python3", "/usr/bin/python3"})
    if (python.empty() &&
        std::system((std::string(candidate) + " -c 'import cv2' >/dev/null 2>&1").c_str()) == 0)
      python = candidate;
  const bool haveOpenCv = !python.empty();

  std::printf("\nSequential decoding, %d s of 1080p at %d fps (%d frames)\n", seconds, kRate,
              seconds * kRate);
  // Best of two runs each, alternating, so that a busy machine hurts both alike.
  Sequential library, bare;
  for (int run = 0; run < 2; ++run) {
    const Sequential ours = LibrarySequential(clip, false), theirs = BareLoop(clip);
    if (ours.fps > library.fps) library = ours;
    if (theirs.fps > bare.fps) bare = theirs;
  }
  std::printf("  VIDEO_getNextFrame     %8.1f fps   %.2f ms processor time per frame\n",
              library.fps, library.cpuMsPerFrame);
  std::printf("  bare FFmpeg loop       %8.1f fps   %.2f ms processor time per frame\n", bare.fps,
              bare.cpuMsPerFrame);
  std::printf(
      "  library / bare = %.3f by frames per second, %.3f by processor time (target >= 0.95)\n",
      library.fps / bare.fps, bare.cpuMsPerFrame / library.cpuMsPerFrame);
  if (haveOpenCv) {
    const auto values = OpenCv(python, folder, clip + " sequential");
    const double opencv = ValueOf(values, "fps"), opencvCpu = ValueOf(values, "cpu_ms");
    std::printf("  OpenCV read()          %8.1f fps   %.2f ms processor time per frame\n", opencv,
                opencvCpu);
    std::printf(
        "  library / OpenCV = %.3f by frames per second, %.3f by processor time (target >= 1.25)\n",
        library.fps / opencv, opencvCpu / library.cpuMsPerFrame);
  } else {
    std::printf("  OpenCV: python3 with cv2 not found, skipped\n");
  }

  std::mt19937 random(2024);
  std::uniform_int_distribution<int> pick(0, seconds * kRate - 1);
  std::vector<int> indices(kRandomAccesses);
  for (int& index : indices) index = pick(random);
  std::printf("\nRandom access, %d fixed indices, 1080p with a 250-frame GOP\n", kRandomAccesses);
  const Sequential reference = LibrarySequential(longGop, true);
  const RandomAccess ours = LibraryRandom(longGop, indices, reference.md5s);
  std::printf(
      "  VIDEO_getFrameWithIndex %7.1f ms per access (%.1f ms processor time), %d of %d equal to "
      "the sequence\n",
      ours.msPerAccess, ours.cpuMsPerAccess, ours.exact, kRandomAccesses);
  if (haveOpenCv) {
    std::string list;
    for (int index : indices) list += (list.empty() ? "" : ",") + std::to_string(index);
    const auto values = OpenCv(python, folder, longGop + " random " + list);
    const double ms = ValueOf(values, "ms"), cpuMs = ValueOf(values, "cpu_ms");
    std::printf(
        "  OpenCV POS_FRAMES+read  %7.1f ms per access (%.1f ms processor time), %d of %d equal "
        "to its sequence\n",
        ms, cpuMs, static_cast<int>(ValueOf(values, "exact")), kRandomAccesses);
    std::printf(
        "  library / OpenCV time per access = %.3f by the clock, %.3f by processor time (target "
        "<= 0.75)\n",
        ours.msPerAccess / ms, ours.cpuMsPerAccess / cpuMs);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return 0;
}
