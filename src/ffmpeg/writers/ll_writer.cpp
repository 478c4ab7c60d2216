#include "ffmpeg/writers/ll_writer.h"

#include <climits>
#include <new>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include "common/boundary.h"
#include "ffmpeg/common/codec_support.h"
#include "ffmpeg/common/output_file.h"

namespace tarsel {
namespace {

constexpr char kNoPath[] = "No output path given";
constexpr char kInvalidFrameRate[] = "Invalid frame rate";
constexpr char kNoFormat[] = "Could not init video format";
constexpr char kNoCodecForTag[] = "Could inder the proper codec id from fourcc";
constexpr char kNoOutputContext[] = "Could not init output context";
constexpr char kNoCodec[] = "Could not find codec";
constexpr char kNoCodecContext[] = "could not allocate codec context";
constexpr char kNoStream[] = "Could not allocate stream";
constexpr char kNoFrameRate[] = "Could not set framerate";
constexpr char kDictionaryError[] = "Dictonary error";
constexpr char kCouldNotOpenCodec[] = "could not open codec\n";
constexpr char kNoFrame[] = "could alloc frame";
constexpr char kNoFrameBuffer[] = "Could not allocate frameBuff";
constexpr char kNoScaler[] = "Could not allocate pixel convert context";

constexpr uint32_t kFfv1Tag = MKTAG('F', 'F', 'V', '1');
constexpr int kFfv1Slices = 4;
// The container may hold packets back up to 0.7 s to interleave them.
constexpr int kMaxMuxDelay = 700000;

// An encoder that accepts only some frame rates gets the nearest of them; the
// first of equally near rates wins.
AVRational SnapToSupportedRate(const AVRational* supported, AVRational requested) {
  if (supported[0].den == 0) throw Message(kNoFrameRate);
  AVRational best{INT_MAX, 1};
  const AVRational* chosen = nullptr;
  for (const AVRational* rate = supported; rate->den != 0; ++rate) {
    AVRational difference = av_sub_q(requested, *rate);
    if (difference.num < 0) difference.num = -difference.num;
    if (av_cmp_q(difference, best) < 0) {
      best = difference;
      chosen = rate;
    }
  }
  if (!chosen) throw Message(kNoFrameRate);
  return AVRational{chosen->den, chosen->num};
}

}  // namespace

AVPixelFormat EncoderPixelFormat(AVCodecID codec, AVPixelFormat source) {
  const bool rgb = source == AV_PIX_FMT_RGB24 || source == AV_PIX_FMT_BGR24;
  switch (codec) {
    case AV_CODEC_ID_FFV1:
      if (rgb) return AV_PIX_FMT_YUV420P;
      if (source == AV_PIX_FMT_GRAY8) return AV_PIX_FMT_GRAY8;
      if (source == AV_PIX_FMT_BGRA) return AV_PIX_FMT_BGRA;
      if (source == AV_PIX_FMT_GRAY16BE || source == AV_PIX_FMT_GRAY16LE) {
        return AV_PIX_FMT_GRAY16LE;
      }
      return AV_PIX_FMT_YUV422P;
    case AV_CODEC_ID_HUFFYUV:
      if (rgb) return AV_PIX_FMT_RGB24;
      if (source == AV_PIX_FMT_BGRA) return AV_PIX_FMT_BGRA;
      return AV_PIX_FMT_YUV422P;
    case AV_CODEC_ID_RAWVIDEO:
      if (source == AV_PIX_FMT_GRAY8) return AV_PIX_FMT_GRAY8;
      if (source == AV_PIX_FMT_GRAY16BE) return AV_PIX_FMT_GRAY16BE;
      if (source == AV_PIX_FMT_GRAY16LE) return AV_PIX_FMT_GRAY16LE;
      return AV_PIX_FMT_YUV420P;
    default:
      return AV_PIX_FMT_YUV420P;
  }
}

LLWriter::~LLWriter() {
  try {
    Close();
  } catch (...) {
    // Clear cannot fail; a trailer that cannot be written leaves the file as it is.
  }
}

void LLWriter::Open(const char* path, int width, int height, double frameRate) {
  if (!path || !*path) throw Message(kNoPath);
  CheckPictureSize(width, height);
  const AVRational timeBase = TimeBaseForRate(frameRate, kInvalidFrameRate);

  outputFormat_ = av_guess_format(nullptr, path, nullptr);
  if (!outputFormat_) throw Message(kNoFormat);
  const AVCodecID codecId = av_codec_get_id(outputFormat_->codec_tag, kFfv1Tag);
  if (codecId == AV_CODEC_ID_NONE) throw Message(kNoCodecForTag);
  AVFormatContext* output = nullptr;
  avformat_alloc_output_context2(&output, outputFormat_, nullptr, path);
  formatContext_.reset(output);
  if (!formatContext_) throw Message(kNoOutputContext);
  formatContext_->max_delay = kMaxMuxDelay;
  encoderPixelFormat_ = EncoderPixelFormat(codecId, sourcePixelFormat_);

  CreateEncoder(codecId, width, height, timeBase);
  av_dump_format(formatContext_.get(), 0, path, 1);
  OpenOutputFile(formatContext_.get(), path);
  WriteHeader(formatContext_.get());
  headerWritten_ = true;

  frame_ = AllocatePicture(encoderPixelFormat_, width, height, kNoFrame, kNoFrameBuffer);
  // BGR24 pictures always need converting for FFV1 (the table gives YUV420P); were
  // the formats equal, the conversion would be a plain copy.
  converter_.AllocateSource(width, height, kNoFrame, kNoFrameBuffer);
  converter_.CreateScaler(encoderPixelFormat_, kNoScaler);
  packet_.reset(av_packet_alloc());
  if (!packet_) throw std::bad_alloc();
}

void LLWriter::CreateEncoder(AVCodecID codecId, int width, int height, AVRational timeBase) {
  const AVCodec* codec = avcodec_find_encoder(codecId);
  if (!codec) throw Message(kNoCodec);
  codecContext_.reset(avcodec_alloc_context3(codec));
  if (!codecContext_) throw Message(kNoCodecContext);
  stream_ = avformat_new_stream(formatContext_.get(), codec);
  if (!stream_) throw Message(kNoStream);
  stream_->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  stream_->codecpar->codec_id = codecId;
  stream_->codecpar->codec_tag = kFfv1Tag;

  if (!OpenEncoder(codec, width, height, timeBase, kFfv1Slices)) {
    if (codecId != AV_CODEC_ID_FFV1) throw Message(kCouldNotOpenCodec);
    // FFV1 cannot cut every picture into 4 slices (odd heights, tiny pictures);
    // it then chooses the slices itself.
    codecContext_.reset(avcodec_alloc_context3(codec));
    if (!codecContext_) throw Message(kNoCodecContext);
    if (!OpenEncoder(codec, width, height, timeBase, 0)) throw Message(kCouldNotOpenCodec);
  }
  // Only the open encoder has its global header (FFV1 keeps its configuration
  // there), so the stream is described from it now.
  if (avcodec_parameters_from_context(stream_->codecpar, codecContext_.get()) < 0) {
    throw std::bad_alloc();
  }
}

bool LLWriter::OpenEncoder(const AVCodec* codec, int width, int height, AVRational timeBase,
                           int ffv1Slices) {
  AVCodecContext* encoder = codecContext_.get();
  encoder->codec_id = codec->id;
  encoder->codec_tag = kFfv1Tag;
  encoder->qmin = 3;
  encoder->width = width;
  encoder->height = height;
  encoder->time_base = timeBase;
  if (const AVRational* rates = SupportedFrameRates(codec)) {
    encoder->time_base = SnapToSupportedRate(rates, AVRational{timeBase.den, timeBase.num});
  }
  encoder->gop_size = 12;
  encoder->pix_fmt = encoderPixelFormat_;
  DictionaryPtr options;
  if (codec->id == AV_CODEC_ID_FFV1) {
    AVDictionary* raw = nullptr;
    ApplyFfv1Options(&raw, ffv1Slices);
    options.reset(raw);
  }
  // The stream keeps the rate asked for, even where the encoder had to round it.
  stream_->avg_frame_rate = AVRational{timeBase.den, timeBase.num};
  stream_->time_base = encoder->time_base;
  if (outputFormat_->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  AVDictionary* raw = options.release();
  const int opened = avcodec_open2(encoder, codec, &raw);
  options.reset(raw);
  return opened == 0;
}

void LLWriter::ApplyFfv1Options(AVDictionary** options, int slices) {
  AVCodecContext* encoder = codecContext_.get();
  encoder->gop_size = 1;
  if (av_dict_set(options, "level", "3", 0) < 0) throw Message(kDictionaryError);
  av_opt_set_int(encoder->priv_data, "coder", 0, 0);
  // FFV1 knows the slice count by the generic name only.
  encoder->slices = slices;
  // Slices are encoded in parallel on every core, as the ffmpeg tool does; the
  // file is the same as with one thread.
  encoder->thread_count = 0;
  encoder->thread_type = FF_THREAD_SLICE;
}

EncodedStream LLWriter::Target() const {
  return EncodedStream{formatContext_.get(), codecContext_.get(), stream_, packet_.get()};
}

void LLWriter::WriteFrame(const uint8_t* pixels, int stride) {
  CheckBgrPicture(pixels, stride, codecContext_->width);
  converter_.Convert(pixels, stride, frame_.get());
  frame_->pts = nextPts_;
  SendFrame(codecContext_.get(), frame_.get());
  ++nextPts_;
  DrainEncoder(Target(), written_);
}

void LLWriter::Close() {
  if (!headerWritten_) return;
  headerWritten_ = false;
  if (packet_) FlushEncoder(Target(), written_);
  const int result = av_write_trailer(formatContext_.get());
  if (result < 0) throw Message::FromAv(result);
}

}  // namespace tarsel
