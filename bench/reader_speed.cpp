// The readers' speed in one table: the video reader against a bare FFmpeg loop
// with the same threading, OpenCV's VideoCapture and PyAV, sequentially on three
// clips, by index, at opening and in peak memory; the audio reader against the
// ffmpeg tool decoding the same file to s16le.
//   bench_reader_speed [rounds [folder]]
//   bench_reader_speed --instructions [folder]
// The clips are made with the ffmpeg tool in a temporary folder, removed at the
// end, or in the folder given, where they are kept for the next run. The second
// form counts the instructions of the sequential readings with valgrind. Every measurement runs in
// a process of its own (this program started again, or python3 for OpenCV and PyAV), the contenders
// taking turns round by round; the table gives the median of the rounds. Pictures are BGR24 in a
// caller's buffer of 3 x width bytes a row. Processor time counts every thread
// of the measured process and is steadier than the clock on a shared machine;
// both are printed, with the load average.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
#include <libavutil/md5.h>
#include <libswscale/swscale.h>
}

#include "tarsel.h"

// Under callgrind, the instructions of the measured loops alone are counted.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define TARSEL_HAVE_CALLGRIND 1
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#define TARSEL_HAVE_CALLGRIND 0
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Values = std::map<std::string, double>;

constexpr int kFrames = 600;
constexpr int kRandomAccesses = 50;
// The longest any one measurement may take; counting instructions, much longer.
constexpr double kChildSeconds = 300;
constexpr double kValgrindSeconds = 7200;
constexpr int kOpenRepeats = 15;
constexpr std::size_t kRowOverrun = 32 * 3;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of the whole process, every thread included.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Md5(const uint8_t* data, std::size_t size) {
  AVMD5* md5 = av_md5_alloc();
  av_md5_init(md5);
  av_md5_update(md5, data, size);
  uint8_t digest[16];
  av_md5_final(md5, digest);
  av_free(md5);
  char text[33];
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

std::vector<int> ParseIndices(const std::string& list) {
  std::vector<int> indices;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ',');) indices.push_back(std::stoi(item));
  return indices;
}

// ------------------------------------------------------------ the children

// A bare FFmpeg loop: the demuxer, the decoder with the library's frame and
// slice threads (two more than cores, at most 16), and libswscale into the
// caller's buffer.
class BareReader {
 public:
  explicit BareReader(const char* path) {
    if (avformat_open_input(&format_, path, nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format_, nullptr) < 0)
      std::exit(1);
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodecParameters* parameters = format_->streams[stream_]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    decoder_ = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder_, parameters);
    const int cores = av_cpu_count();
    decoder_->thread_count = cores > 1 ? std::min(cores + 2, 16) : 0;
    decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(decoder_, codec, nullptr) < 0) std::exit(1);
    width_ = decoder_->width;
    height_ = decoder_->height;
    scaler_ = sws_getContext(width_, height_, decoder_->pix_fmt, width_, height_, AV_PIX_FMT_BGR24,
                             SWS_BICUBIC, nullptr, nullptr, nullptr);
    // libswscale's SIMD converters may write a block of pixels past the end of
    // a row whose width is not a multiple of the block: room for it after the last.
    pixels_.resize(static_cast<std::size_t>(width_) * height_ * 3 + kRowOverrun);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
  }
  ~BareReader() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    sws_freeContext(scaler_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
  }

  bool Next() {
    for (;;) {
      if (avcodec_receive_frame(decoder_, frame_) == 0) {
        uint8_t* planes[4] = {pixels_.data()};
        const int pitches[4] = {width_ * 3};
        sws_scale(scaler_, frame_->data, frame_->linesize, 0, frame_->height, planes, pitches);
        return true;
      }
      if (ended_) return false;
      if (av_read_frame(format_, packet_) < 0) {
        ended_ = true;
        avcodec_send_packet(decoder_, nullptr);
        continue;
      }
      if (packet_->stream_index == stream_) avcodec_send_packet(decoder_, packet_);
      av_packet_unref(packet_);
    }
  }

 private:
  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  SwsContext* scaler_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  int stream_ = -1;
  int width_ = 0;
  int height_ = 0;
  bool ended_ = false;
  std::vector<uint8_t> pixels_;
};

class TarselReader {
 public:
  explicit TarselReader(const char* path) {
    char errorText[200];
    if (VIDEO_Init(&reader_, path, 0, 0, nullptr, 0, errorText) != 0) {
      std::fprintf(stderr, "VIDEO_Init: %s\n", errorText);
      std::exit(1);
    }
    double duration, rate;
    VIDEO_getVideoInfo(reader_, &width_, &height_, &count_, &duration, &rate, errorText);
    pixels_.resize(static_cast<std::size_t>(width_) * height_ * 3);
  }
  ~TarselReader() { VIDEO_Clear(&reader_); }

  bool Next() {
    uint32_t index;
    double time, again;
    char errorText[200];
    return VIDEO_getNextFrame(reader_, pixels_.data(), width_ * 3, &index, &time, &again,
                              errorText) == 0;
  }
  bool AtIndex(int index) {
    uint32_t delivered;
    double time, again;
    char errorText[200];
    return VIDEO_getFrameWithIndex(reader_, pixels_.data(), width_ * 3, index, &delivered, &time,
                                   &again, errorText) == 0;
  }
  std::string PictureMd5() const { return Md5(pixels_.data(), pixels_.size()); }

 private:
  void* reader_ = nullptr;
  int32_t width_ = 0, height_ = 0, count_ = 0;
  std::vector<uint8_t> pixels_;
};

// The clip read `repeats` times, each by a reader of its own; the opening is not
// measured.
template <class Reader>
void SequentialChild(const char* path, int repeats) {
  int frames = 0;
  double wall = 0.0, cpu = 0.0;
  for (int k = 0; k < repeats; ++k) {
    Reader reader(path);
    const double cpuStart = CpuSeconds();
    const Clock::time_point start = Clock::now();
    CALLGRIND_START_INSTRUMENTATION;
    while (reader.Next()) ++frames;
    CALLGRIND_STOP_INSTRUMENTATION;
    wall += SecondsSince(start);
    cpu += CpuSeconds() - cpuStart;
  }
  std::printf("frames %d\nwall %.6f\ncpu %.6f\n", frames / repeats, wall / repeats, cpu / repeats);
}

// The accesses are timed without hashing; a second pass, untimed, hashes the
// pictures for the exactness check.
void RandomChild(const char* path, const std::string& list, bool check) {
  const std::vector<int> indices = ParseIndices(list);
  TarselReader reader(path);
  const double cpu = CpuSeconds();
  const Clock::time_point start = Clock::now();
  for (int index : indices) reader.AtIndex(index);
  std::printf("wall %.6f\ncpu %.6f\n", SecondsSince(start), CpuSeconds() - cpu);
  if (!check) return;
  for (int index : indices)
    std::printf("md5_%d %s\n", index, reader.AtIndex(index) ? reader.PictureMd5().c_str() : "-");
}

// Open and first picture, kOpenRepeats times after one unmeasured round.
template <class Reader>
void OpenChild(const char* path) {
  std::vector<double> wall, cpu;
  for (int round = 0; round <= kOpenRepeats; ++round) {
    const double cpuStart = CpuSeconds();
    const Clock::time_point start = Clock::now();
    {
      Reader reader(path);
      if (!reader.Next()) std::exit(1);
      if (round > 0) {
        wall.push_back(SecondsSince(start));
        cpu.push_back(CpuSeconds() - cpuStart);
      }
    }
  }
  std::printf("wall %.6f\ncpu %.6f\n", Median(wall), Median(cpu));
}

void AudioChild(const char* path) {
  void* reader = nullptr;
  char errorText[200], codec[200];
  int32_t stream, hasAudio, channels, rate, bufferSize;
  double duration;
  if (AUDIO_Init(&reader, path, &stream, errorText) != 0 ||
      AUDIO_GetAudioInfo(reader, &hasAudio, &channels, &rate, &bufferSize, &duration, codec,
                         errorText) != 0) {
    std::fprintf(stderr, "AUDIO_: %s\n", errorText);
    std::exit(1);
  }
  std::vector<uint8_t> samples(static_cast<std::size_t>(bufferSize));
  int64_t total = 0;
  int32_t count, bytes;
  double time;
  while (AUDIO_GetNewAudioSamples(reader, samples.data(), &count, &bytes, &time, errorText) == 0)
    total += count;
  AUDIO_Clear(&reader);
  std::printf("samples %lld\n", static_cast<long long>(total));
}

int Child(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);
  const std::string mode = argv[2];
  const std::string who = argc > 3 ? argv[3] : "";
  const char* path = argc > 4 ? argv[4] : "";
  const int repeats = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1;
  if (mode == "seq" && who == "bare") SequentialChild<BareReader>(path, repeats);
  if (mode == "seq" && who == "tarsel") SequentialChild<TarselReader>(path, repeats);
  if (mode == "open" && who == "bare") OpenChild<BareReader>(path);
  if (mode == "open" && who == "tarsel") OpenChild<TarselReader>(path);
  if (mode == "random") RandomChild(path, argv[5], argc > 6 && std::string(argv[6]) == "check");
  if (mode == "audio") AudioChild(path);
  return 0;
}

// ------------------------------------------------------------ OpenCV, PyAV

constexpr char kPythonScript[] = R"(
import hashlib, sys, time
kind, mode, path = sys.argv[1], sys.argv[2], sys.argv[3]
indices = [int(i) for i in sys.argv[4].split(',')] if mode == 'random' else []
check = len(sys.argv) > 5 and sys.argv[5] == 'check'
md5 = lambda image: hashlib.md5(image.tobytes()).hexdigest()

if kind == 'opencv':
    import cv2
    cv2.setNumThreads(cv2.getNumberOfCPUs())
    def sequential(keep=()):
        capture = cv2.VideoCapture(path, cv2.CAP_FFMPEG)
        n, sums = 0, {}
        while True:
            ok, image = capture.read()
            if not ok:
                break
            if n in keep:
                sums[n] = md5(image)
            n += 1
        return n, sums
    def accesses():
        capture = cv2.VideoCapture(path, cv2.CAP_FFMPEG)
        def at(i):
            capture.set(cv2.CAP_PROP_POS_FRAMES, i)
            ok, image = capture.read()
            return image if ok else None
        return at
else:
    import av
    def open_stream():
        container = av.open(path)
        stream = container.streams.video[0]
        stream.thread_type = 'AUTO'
        return container, stream
    def sequential(keep=()):
        container, stream = open_stream()
        n, sums = 0, {}
        for frame in container.decode(stream):
            image = frame.to_ndarray(format='bgr24')
            if n in keep:
                sums[n] = md5(image)
            n += 1
        return n, sums
    def accesses():
        container, stream = open_stream()
        start = stream.start_time or 0
        def at(i):
            target = start + round(i / stream.average_rate / stream.time_base)
            container.seek(target, stream=stream, backward=True)
            for frame in container.decode(stream):
                if frame.pts is not None and frame.pts >= target:
                    return frame.to_ndarray(format='bgr24')
            return None
        return at

if mode == 'seq':
    repeats = int(sys.argv[4])
    n, wall, cpu = 0, 0.0, 0.0
    for _ in range(repeats):
        started, processor = time.perf_counter(), time.process_time()
        n, _ = sequential()
        wall += time.perf_counter() - started
        cpu += time.process_time() - processor
    print('frames', n)
    print('wall', wall / repeats)
    print('cpu', cpu / repeats)
else:
    at = accesses()
    wall, cpu = time.perf_counter(), time.process_time()
    for i in indices:
        at(i)
    print('wall', time.perf_counter() - wall)
    print('cpu', time.process_time() - cpu)
    if check:
        # Untimed: the same accesses again, hashed, against sequential reading.
        digest = lambda image: md5(image) if image is not None else '-'
        got = [digest(at(i)) for i in indices]
        _, sums = sequential(set(indices))
        print('exact', sum(1 for i, g in zip(indices, got) if sums.get(i) == g))
)";

// ------------------------------------------------------------ the parent

struct Outcome {
  bool ok = false;
  std::string output;
  double wall = 0.0;  // from start to exit
  double cpu = 0.0;   // user and system time of the process
  double peakMb = 0.0;
};

// Runs a program with its standard output captured.
Outcome Spawn(const std::vector<std::string>& arguments, double limitSeconds = kChildSeconds) {
  Outcome outcome;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return outcome;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const Clock::time_point start = Clock::now();
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (spawned == 0) {
    // A contender that hangs (PyAV has been seen to deadlock after a seek) is
    // stopped after limitSeconds and counts as failed.
    char chunk[4096];
    pollfd readable{pipeEnds[0], POLLIN, 0};
    for (;;) {
      const double left = limitSeconds - SecondsSince(start);
      const int ready = left > 0 ? poll(&readable, 1, static_cast<int>(left * 1000) + 1) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) {
        kill(pid, SIGKILL);
        break;
      }
      const ssize_t got = read(pipeEnds[0], chunk, sizeof chunk);
      if (got <= 0) break;
      outcome.output.append(chunk, static_cast<std::size_t>(got));
    }
  }
  close(pipeEnds[0]);
  if (spawned != 0) return outcome;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  outcome.wall = SecondsSince(start);
  outcome.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
                usage.ru_stime.tv_usec * 1e-6;
  outcome.peakMb = usage.ru_maxrss / 1024.0;
  outcome.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return outcome;
}

bool Shell(const std::string& command) {
  std::printf("$ %s\n", command.c_str());
  std::fflush(stdout);
  return std::system(command.c_str()) == 0;
}

// "key value" lines; values that are not numbers are kept in texts.
Values Parse(const std::string& output, std::map<std::string, std::string>* texts = nullptr) {
  Values values;
  std::stringstream in(output);
  for (std::string key, value; in >> key >> value;) {
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (end && *end == '\0') values[key] = number;
    if (texts) (*texts)[key] = value;
  }
  return values;
}

struct Clip {
  std::string label;
  std::string file;
  std::string making;  // ffmpeg options after the source
  bool targeted;       // the targets apply (the others are for information)
  int repeats;         // readings a measurement takes: short ones are noisy
};

const std::vector<Clip>& Clips() {
  static const std::vector<Clip> clips = {
      {"1920x1080 H.264, libx264 defaults (3 B-frames, keyint 250)", "h264_1080p.mp4",
       "-f lavfi -i testsrc2=size=1920x1080:rate=30 -frames:v 600 -c:v libx264 -pix_fmt yuv420p",
       true, 1},
      {"1280x720 H.264, -bf 3 -g 60, b-pyramid normal", "h264_720p.mp4",
       "-f lavfi -i testsrc2=size=1280x720:rate=30 -frames:v 600 -c:v libx264 -pix_fmt yuv420p "
       "-bf 3 -g 60 -x264-params b-pyramid=normal",
       true, 2},
      {"854x480 MPEG-4 ASP in AVI, q 4, 2 B-frames, g 60", "mpeg4_480p.avi",
       "-f lavfi -i testsrc2=size=854x480:rate=30 -frames:v 600 -c:v mpeg4 -vtag XVID -q:v 4 -bf 2 "
       "-g 60",
       true, 6},
      {"1920x1080 MJPEG in AVI, q 3 (a decoder without threads)", "mjpeg_1080p.avi",
       "-f lavfi -i testsrc2=size=1920x1080:rate=30 -frames:v 300 -c:v mjpeg -q:v 3", false, 1},
  };
  return clips;
}

constexpr char kAudioClip[] = "aac_10min.m4a";
constexpr char kAudioMaking[] =
    "-f lavfi -i anoisesrc=r=48000:a=0.2:d=600 -ac 2 -c:a aac -b:a 160k";
constexpr double kAudioSeconds = 600.0;

// Medians of one measurement over the rounds.
struct Series {
  std::vector<double> wall, cpu, peak;
  int frames = -1;
  std::string note;
  void Add(double wallSeconds, double cpuSeconds, double peakMb = 0.0) {
    wall.push_back(wallSeconds);
    cpu.push_back(cpuSeconds);
    peak.push_back(peakMb);
  }
  bool empty() const { return wall.empty(); }
  double Wall() const { return Median(wall); }
  double Cpu() const { return Median(cpu); }
  double Peak() const { return Median(peak); }
};

class Bench {
 public:
  Bench(std::string self, fs::path folder, int rounds)
      : self_(std::move(self)), folder_(std::move(folder)), rounds_(rounds) {}
  int Run();

 private:
  std::string Path(const std::string& file) const { return (folder_ / file).string(); }
  bool MakeMedia();
  void FindPython();
  void ToolReference();
  void Round(int round);
  void Sequential(const std::string& who, const Clip& clip);
  void Random(const std::string& who, bool check);
  void Opening(const std::string& who);
  void Audio(const std::string& who);
  void PrintTable() const;

 public:
  // The instructions of each sequential reading, bare loop and Tarsel, counted
  // by valgrind's callgrind: independent of the machine's load.
  int CountInstructions();

 private:
  std::string self_;
  fs::path folder_;
  int rounds_;
  std::string opencvPython_, pyavPython_;
  std::vector<int> indices_;
  std::string indexList_;
  std::map<int, std::string> toolMd5s_;
  // Keyed by clip file (or "random", "open", "audio") and contender.
  std::map<std::string, std::map<std::string, Series>> results_;
  std::map<std::string, int> exact_;  // random access: pictures equal to the reference
};

// Media already in the folder (from an earlier run given the same folder) is kept.
bool Bench::MakeMedia() {
  const auto make = [&](const std::string& making, const std::string& file) {
    if (fs::exists(Path(file))) return true;
    const std::string partial = Path("partial_" + file);
    return Shell("ffmpeg -nostdin -hide_banner -loglevel error -y " + making + " " + partial) &&
           (fs::rename(partial, Path(file)), true);
  };
  for (const Clip& clip : Clips())
    if (!make(clip.making, clip.file)) return false;
  return make(kAudioMaking, kAudioClip);
}

// Debian's python3 has cv2 and av; a version manager's may shadow it.
void Bench::FindPython() {
  for (const char* candidate : {"python3", "/usr/bin/python3"}) {
    const std::string python = candidate;
    if (opencvPython_.empty() &&
        std::system((python + " -c 'import cv2' >/dev/null 2>&1").c_str()) == 0)
      opencvPython_ = python;
    if (pyavPython_.empty() &&
        std::system((python + " -c 'import av' >/dev/null 2>&1").c_str()) == 0)
      pyavPython_ = python;
  }
  std::ofstream(Path("readers.py")) << kPythonScript;
}

// The ffmpeg tool's pictures at the random indices, as MD5s of BGR24.
void Bench::ToolReference() {
  std::string select;
  for (int index : indices_)
    select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(index) + ")";
  const std::string output = Path("reference.md5");
  Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -i " + Path(Clips()[0].file) +
        " -vf \"select='" + select + "'\" -fps_mode passthrough -pix_fmt bgr24 -f framemd5 " +
        output);
  std::vector<int> sorted = indices_;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  std::ifstream in(output);
  std::size_t next = 0;
  for (std::string line; std::getline(in, line) && next < sorted.size();)
    if (!line.empty() && line[0] != '#')
      toolMd5s_[sorted[next++]] = line.substr(line.rfind(' ') + 1);
}

void Bench::Sequential(const std::string& who, const Clip& clip) {
  Series& series = results_[clip.file][who];
  std::vector<std::string> command;
  const std::string repeats = std::to_string(clip.repeats);
  if (who == "bare" || who == "tarsel")
    command = {self_, "--child", "seq", who, Path(clip.file), repeats};
  else
    command = {who == "opencv" ? opencvPython_ : pyavPython_,
               Path("readers.py"),
               who,
               "seq",
               Path(clip.file),
               repeats};
  const Outcome outcome = Spawn(command);
  const Values values = Parse(outcome.output);
  if (!outcome.ok || !values.count("frames")) {
    series.note = "failed";
    return;
  }
  series.frames = static_cast<int>(values.at("frames"));
  series.Add(values.at("wall"), values.at("cpu"), outcome.peakMb);
}

void Bench::Random(const std::string& who, bool check) {
  Series& series = results_["random"][who];
  const std::string& clip = Path(Clips()[0].file);
  std::vector<std::string> command;
  if (who == "tarsel")
    command = {self_, "--child", "random", "tarsel", clip, indexList_, check ? "check" : ""};
  else
    command = {who == "opencv" ? opencvPython_ : pyavPython_,
               Path("readers.py"),
               who,
               "random",
               clip,
               indexList_,
               check ? "check" : ""};
  const Outcome outcome = Spawn(command);
  std::map<std::string, std::string> texts;
  const Values values = Parse(outcome.output, &texts);
  if (!outcome.ok || !values.count("wall")) {
    series.note = "failed";
    return;
  }
  series.Add(values.at("wall"), values.at("cpu"));
  if (who == "tarsel" && check) {
    int exact = 0;
    for (int index : indices_) exact += texts["md5_" + std::to_string(index)] == toolMd5s_[index];
    exact_[who] = exact_.count(who) ? std::min(exact_[who], exact) : exact;
  } else if (check && values.count("exact")) {
    exact_[who] = static_cast<int>(values.at("exact"));
  }
}

void Bench::Opening(const std::string& who) {
  const Outcome outcome = Spawn({self_, "--child", "open", who, Path(Clips()[0].file)});
  const Values values = Parse(outcome.output);
  if (outcome.ok && values.count("wall"))
    results_["open"][who].Add(values.at("wall"), values.at("cpu"));
}

void Bench::Audio(const std::string& who) {
  const std::string clip = Path(kAudioClip);
  const Outcome outcome = who == "tarsel"
                              ? Spawn({self_, "--child", "audio", "tarsel", clip})
                              : Spawn({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                       "-i", clip, "-f", "s16le", "-y", "/dev/null"});
  if (outcome.ok) results_["audio"][who].Add(outcome.wall, outcome.cpu);
}

// The contenders take turns, starting one further each round.
template <class Body>
void InTurns(const std::vector<std::string>& who, int round, Body body) {
  for (std::size_t k = 0; k < who.size(); ++k) body(who[(k + round) % who.size()]);
}

void Bench::Round(int round) {
  std::vector<std::string> video = {"bare", "tarsel"};
  if (!opencvPython_.empty()) video.push_back("opencv");
  if (!pyavPython_.empty()) video.push_back("pyav");
  for (const Clip& clip : Clips())
    InTurns(video, round, [&](const std::string& who) { Sequential(who, clip); });
  std::vector<std::string> random(video.begin() + 1, video.end());
  InTurns(random, round, [&](const std::string& who) { Random(who, round == 0); });
  InTurns({"bare", "tarsel"}, round, [&](const std::string& who) { Opening(who); });
  InTurns({"tool", "tarsel"}, round, [&](const std::string& who) { Audio(who); });
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("round %d of %d done, load average %.1f %.1f %.1f\n", round + 1, rounds_, load[0],
              load[1], load[2]);
  std::fflush(stdout);
}

std::string Cell(const Series& series, const char* format, double scale, bool perFrame) {
  if (series.empty()) return series.note.empty() ? "skipped" : series.note;
  const int frames = perFrame ? std::max(series.frames, 1) : 1;
  char text[96];
  const double wall = series.Wall(), cpu = series.Cpu();
  std::snprintf(text, sizeof text, format, perFrame ? frames / wall : wall * scale,
                cpu * scale / frames);
  return text;
}

std::string Ratio(const Series& ours, const Series& theirs, bool higherIsBetter, double target) {
  if (ours.empty() || theirs.empty()) return "–";
  // By the clock and by processor time, both as "ours over theirs" in the sense
  // of the target: speed ratios for rates, time ratios for times.
  const double byClock = higherIsBetter ? theirs.Wall() / ours.Wall() : ours.Wall() / theirs.Wall();
  const double byCpu = higherIsBetter ? theirs.Cpu() / ours.Cpu() : ours.Cpu() / theirs.Cpu();
  const auto met = [&](double ratio) { return higherIsBetter ? ratio >= target : ratio <= target; };
  char text[96];
  std::snprintf(text, sizeof text, "%.2fx clock%s, %.2fx cpu%s", byClock,
                met(byClock) ? "" : " (!)", byCpu, met(byCpu) ? "" : " (!)");
  return text;
}

void Bench::PrintTable() const {
  double load[3] = {};
  getloadavg(load, 3);
  const auto& none = std::map<std::string, Series>();
  const auto get = [&](const std::string& key, const std::string& who) -> const Series& {
    static const Series empty;
    const auto& row = results_.count(key) ? results_.at(key) : none;
    return row.count(who) ? row.at(who) : empty;
  };
  std::printf(
      "\nMedians of %d interleaved rounds; load average at the end %.1f %.1f %.1f on %ld "
      "cores.\nCells: frames per second by the clock (processor ms per frame, all "
      "threads).\nRatios: Tarsel over the other; (!) marks a target missed.\n\n",
      rounds_, load[0], load[1], load[2], sysconf(_SC_NPROCESSORS_ONLN));
  std::printf(
      "| clip | bare FFmpeg loop | OpenCV read() | PyAV | Tarsel | Tarsel / bare (>= 1.0) "
      "| Tarsel / OpenCV (>= 1.15) |\n|---|---|---|---|---|---|---|\n");
  const char* rate = "%.0f fps (%.2f ms)";
  for (const Clip& clip : Clips()) {
    const std::string label =
        clip.label + ", " + std::to_string(get(clip.file, "tarsel").frames) + " frames";
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", label.c_str(),
                Cell(get(clip.file, "bare"), rate, 1000.0, true).c_str(),
                Cell(get(clip.file, "opencv"), rate, 1000.0, true).c_str(),
                Cell(get(clip.file, "pyav"), rate, 1000.0, true).c_str(),
                Cell(get(clip.file, "tarsel"), rate, 1000.0, true).c_str(),
                clip.targeted
                    ? Ratio(get(clip.file, "tarsel"), get(clip.file, "bare"), true, 1.0).c_str()
                    : Ratio(get(clip.file, "tarsel"), get(clip.file, "bare"), true, 0).c_str(),
                clip.targeted
                    ? Ratio(get(clip.file, "tarsel"), get(clip.file, "opencv"), true, 1.15).c_str()
                    : Ratio(get(clip.file, "tarsel"), get(clip.file, "opencv"), true, 0).c_str());
  }
  const auto exact = [&](const std::string& who) {
    return exact_.count(who)
               ? std::to_string(exact_.at(who)) + "/" + std::to_string(kRandomAccesses)
               : std::string("?");
  };
  const char* perAccess = "%.0f ms (%.0f ms)";
  const double accesses = kRandomAccesses;
  std::printf(
      "| random index access, first clip, %d indices: ms per access (processor ms), "
      "exact | – | %s, exact %s | %s, exact %s | %s, exact %s | – | %s (<= 0.55) |\n",
      kRandomAccesses, Cell(get("random", "opencv"), perAccess, 1000.0 / accesses, false).c_str(),
      exact("opencv").c_str(),
      Cell(get("random", "pyav"), perAccess, 1000.0 / accesses, false).c_str(),
      exact("pyav").c_str(),
      Cell(get("random", "tarsel"), perAccess, 1000.0 / accesses, false).c_str(),
      exact("tarsel").c_str(),
      Ratio(get("random", "tarsel"), get("random", "opencv"), false, 0.55).c_str());
  std::printf(
      "| opening + first picture, first clip: ms (processor ms) | %s | – | – | %s | %s (<= "
      "1.2) | – |\n",
      Cell(get("open", "bare"), "%.1f ms (%.1f ms)", 1000.0, false).c_str(),
      Cell(get("open", "tarsel"), "%.1f ms (%.1f ms)", 1000.0, false).c_str(),
      Ratio(get("open", "tarsel"), get("open", "bare"), false, 1.2).c_str());
  const Series& bareRun = get(Clips()[0].file, "bare");
  const Series& ourRun = get(Clips()[0].file, "tarsel");
  const auto peak = [](const Series& series) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB", series.Peak());
    return series.empty() ? std::string("–") : std::string(text);
  };
  std::printf(
      "| peak resident memory, reading the first clip | %s | %s | %s | %s | %.2fx (<= 1.2) "
      "| – |\n",
      peak(bareRun).c_str(), peak(get(Clips()[0].file, "opencv")).c_str(),
      peak(get(Clips()[0].file, "pyav")).c_str(), peak(ourRun).c_str(),
      bareRun.empty() || ourRun.empty() ? 0.0 : ourRun.Peak() / bareRun.Peak());
  const auto audioCell = [](const Series& series) {
    if (series.empty()) return std::string("–");
    char text[64];
    std::snprintf(text, sizeof text, "%.0fx real time (%.2f s)", kAudioSeconds / series.Wall(),
                  series.Cpu());
    return std::string(text);
  };
  std::printf(
      "\n| audio reader, 10 min of stereo 48 kHz AAC | ffmpeg -f s16le (whole process) "
      "| AUDIO_GetNewAudioSamples (whole process) | Tarsel / tool |\n|---|---|---|---|\n"
      "| decoding to s16le: speed (processor s) | %s | %s | %s |\n",
      audioCell(get("audio", "tool")).c_str(), audioCell(get("audio", "tarsel")).c_str(),
      Ratio(get("audio", "tarsel"), get("audio", "tool"), true, 0).c_str());
  if (opencvPython_.empty())
    std::printf("\nOpenCV: no python3 with cv2 (Debian: python3-opencv), skipped.\n");
  if (pyavPython_.empty()) std::printf("PyAV: no python3 with av (Debian: python3-av), skipped.\n");
}

int Bench::CountInstructions() {
  if (!TARSEL_HAVE_CALLGRIND) {
    std::printf("built without valgrind/callgrind.h: no instruction counts\n");
    return 1;
  }
  if (!MakeMedia()) return 1;
  std::printf(
      "\nInstructions of the reading loop alone, counted by callgrind (opening not "
      "counted)\n\n| clip | bare FFmpeg loop | Tarsel | Tarsel / bare |\n|---|---|---|---|\n");
  for (const Clip& clip : Clips()) {
    double counts[2] = {};
    const char* who[2] = {"bare", "tarsel"};
    for (int k = 0; k < 2; ++k) {
      const std::string log = Path(std::string("callgrind_") + who[k] + ".txt");
      Spawn({"valgrind", "--tool=callgrind", "--instr-atstart=no", "--callgrind-out-file=/dev/null",
             "--log-file=" + log, self_, "--child", "seq", who[k], Path(clip.file), "1"},
            kValgrindSeconds);
      std::ifstream in(log);
      for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find("Collected : ");
        if (at != std::string::npos) counts[k] = std::strtod(line.c_str() + at + 12, nullptr);
      }
    }
    std::printf("| %s | %.4g | %.4g | %.4f |\n", clip.label.c_str(), counts[0], counts[1],
                counts[0] > 0 ? counts[1] / counts[0] : 0.0);
    std::fflush(stdout);
  }
  return 0;
}

int Bench::Run() {
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("load average at the start %.1f %.1f %.1f on %ld cores\n", load[0], load[1], load[2],
              sysconf(_SC_NPROCESSORS_ONLN));
  if (!MakeMedia()) {
    std::printf("could not make the clips with the ffmpeg tool\n");
    return 1;
  }
  FindPython();
  std::mt19937 random(2024);
  std::uniform_int_distribution<int> pick(0, kFrames - 1);
  for (int k = 0; k < kRandomAccesses; ++k) {
    indices_.push_back(pick(random));
    indexList_ += (k ? "," : "") + std::to_string(indices_.back());
  }
  ToolReference();
  for (int round = 0; round < rounds_; ++round) Round(round);
  PrintTable();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--child") == 0) return Child(argc, argv);
  const bool instructions = argc > 1 && std::strcmp(argv[1], "--instructions") == 0;
  const int rounds = argc > 1 && !instructions ? std::max(1, std::atoi(argv[1])) : 3;
  // A folder given is kept with its media for the next run.
  const bool keep = argc > 2;
  const fs::path folder =
      keep ? fs::path(argv[2])
           : fs::temp_directory_path() / ("tarsel_reader_bench_" + std::to_string(getpid()));
  std::error_code error;
  fs::create_directories(folder, error);
  const fs::path self = fs::canonical("/proc/self/exe", error);
  Bench bench(error ? std::string(argv[0]) : self.string(), folder, rounds);
  const int result = instructions ? bench.CountInstructions() : bench.Run();
  if (!keep) fs::remove_all(folder, error);
  return result;
}
