#include "ffmpeg/writers/vid_writer.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "common/boundary.h"
#include "ffmpeg/common/codec_support.h"
#include "ffmpeg/common/default_codecs.h"
#include "ffmpeg/common/network.h"
#include "ffmpeg/common/output_file.h"

namespace tarsel {
namespace {
// MPEG-4 is tagged "divx" where the container knows that tag (AVI and the
// containers without a tag table); MP4 and MOV refuse it and would fail the open.
bool ContainerTakesDivxTag(const AVOutputFormat* format) {
  return !format->codec_tag ||
         av_codec_get_id(format->codec_tag, MKTAG('d', 'i', 'v', 'x')) == AV_CODEC_ID_MPEG4;
}

constexpr char kNoPath[] = "No output path given";
constexpr char kInvalidFrameRate[] = "Invalid frame rate";
constexpr char kInvalidBitRate[] = "Invalid bit rate";
constexpr char kInvalidGopSize[] = "Invalid gop size";
constexpr char kNoFormat[] = "Could not find suitable output format";
constexpr char kNoOutputContext[] = "Could not init output context";
constexpr char kNoCodec[] = "video codec not found";
constexpr char kNoStream[] = "Could not alloc video stream";
constexpr char kNoCodecContext[] = "could not allocate codec context";
constexpr char kCouldNotOpenCodec[] = "could not open codec\n";
constexpr char kNoPicture[] = "Could not allocate picture\n";
constexpr char kNoAudioContext[] = "Could not allocate audio codec context";
constexpr char kNoS16Audio[] = "Audio Encoder does not support sample format";
constexpr char kCouldNotOpenAudio[] = "Could not open audio codec";
constexpr char kNoAudioPacket[] = "Could not allocate audio packet";
constexpr char kNoAudioFrame[] = "Could not allocate audio frame";
constexpr char kNoAudioStream[] = "Could not allocate audio stream";
constexpr char kNoScaler[] = "Cannot initialize the conversion context\n";
constexpr char kTimeOutOfRange[] = "The picture's time is beyond the writer's frame count";

constexpr int kAudioBitRate = 64000;
constexpr int kPreferredSampleRate = 44100;

// An encoder without a list is taken to accept the format; its open then decides.
bool SupportsSampleFormat(const AVCodec* encoder, AVSampleFormat format) {
  const AVSampleFormat* formats = SupportedSampleFormats(encoder);
  if (!formats) return true;
  for (const AVSampleFormat* listed = formats; *listed != AV_SAMPLE_FMT_NONE; ++listed) {
    if (*listed == format) return true;
  }
  return false;
}

}  // namespace

AudioChoice ChooseAudioSettings(const AVCodec* encoder) {
  AudioChoice choice;
  if (const int* rates = SupportedSampleRates(encoder)) {
    choice.sampleRate = rates[0];
    for (const int* rate = rates; *rate != 0; ++rate) {
      if (std::abs(*rate - kPreferredSampleRate) <
          std::abs(choice.sampleRate - kPreferredSampleRate)) {
        choice.sampleRate = *rate;
      }
    }
  }
  if (const AVChannelLayout* layouts = SupportedChannelLayouts(encoder)) {
    for (const AVChannelLayout* layout = layouts; layout->nb_channels != 0; ++layout) {
      if (layout == layouts || layout->nb_channels > choice.layout.nb_channels) {
        choice.layout = *layout;
      }
    }
  }
  return choice;
}

VidWriter::~VidWriter() {
  if (!headerWritten_) return;
  if (packet_) FlushEncoder(VideoTarget(), video_);
  if (hasAudio_) FlushEncoder(AudioTarget(), audio_);
  av_write_trailer(formatContext_.get());
}

void VidWriter::Open(const char* path, int width, int height, bool withAudio,
                     const char* formatName, int bitRate, int frameRate, int gopSize) {
  StartWriterNetwork();
  if (!path || !*path) throw Message(kNoPath);
  CheckPictureSize(width, height);
  if (frameRate <= 0) throw Message(kInvalidFrameRate);
  if (bitRate <= 0) throw Message(kInvalidBitRate);
  if (gopSize <= 0) throw Message(kInvalidGopSize);
  frameRate_ = frameRate;

  ChooseContainer(path, formatName);
  CreateVideoEncoder(width, height, bitRate, gopSize);
  frame_ = AllocatePicture(codecContext_->pix_fmt, width, height, kNoPicture, kNoPicture);
  converter_.AllocateSource(width, height, kNoPicture, kNoPicture);
  OpenOutputFile(formatContext_.get(), path);
  hasAudio_ = withAudio;
  if (hasAudio_) AddAudioStream();
  WriteHeader(formatContext_.get());
  headerWritten_ = true;
  converter_.CreateScaler(codecContext_->pix_fmt, kNoScaler);
  packet_.reset(av_packet_alloc());
  if (!packet_) throw std::bad_alloc();
}

void VidWriter::ChooseContainer(const char* path, const char* formatName) {
  if (formatName && *formatName) {
    outputFormat_ = av_guess_format(formatName, nullptr, nullptr);
  } else {
    outputFormat_ = av_guess_format(nullptr, path, nullptr);
  }
  if (!outputFormat_) throw Message(kNoFormat);
  AVFormatContext* output = nullptr;
  avformat_alloc_output_context2(&output, outputFormat_, nullptr, path);
  formatContext_.reset(output);
  if (!formatContext_) throw Message(kNoOutputContext);
}

void VidWriter::CreateVideoEncoder(int width, int height, int bitRate, int gopSize) {
  const AVCodec* codec = avcodec_find_encoder(DefaultVideoCodec(outputFormat_));
  if (!codec) throw Message(kNoCodec);
  stream_ = avformat_new_stream(formatContext_.get(), codec);
  if (!stream_) throw Message(kNoStream);
  stream_->time_base = AVRational{1, frameRate_};
  codecContext_.reset(avcodec_alloc_context3(codec));
  if (!codecContext_) throw Message(kNoCodecContext);

  AVCodecContext* encoder = codecContext_.get();
  if (codec->id == AV_CODEC_ID_MPEG4 && ContainerTakesDivxTag(outputFormat_)) {
    encoder->codec_tag = MKTAG('d', 'i', 'v', 'x');
  }
  encoder->bit_rate = bitRate;
  encoder->width = width;
  encoder->height = height;
  encoder->time_base = AVRational{1, frameRate_};
  encoder->gop_size = gopSize;
  encoder->pix_fmt = AV_PIX_FMT_YUV420P;
  if (codec->id == AV_CODEC_ID_MPEG1VIDEO) encoder->mb_decision = 2;
  if (outputFormat_->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(encoder, codec, nullptr) != 0) throw Message(kCouldNotOpenCodec);
  // Described from the open encoder, which alone has the global header (H.264
  // in MP4 or Matroska needs it in the file header).
  if (avcodec_parameters_from_context(stream_->codecpar, encoder) < 0) throw std::bad_alloc();
}

void VidWriter::AddAudioStream() {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!codec) throw Message(kNoCodec);
  audioCodecContext_.reset(avcodec_alloc_context3(codec));
  if (!audioCodecContext_) throw Message(kNoAudioContext);
  AVCodecContext* encoder = audioCodecContext_.get();
  encoder->bit_rate = kAudioBitRate;
  encoder->sample_fmt = AV_SAMPLE_FMT_S16;
  if (!SupportsSampleFormat(codec, AV_SAMPLE_FMT_S16)) throw Message(kNoS16Audio);
  const AudioChoice choice = ChooseAudioSettings(codec);
  encoder->sample_rate = choice.sampleRate;
  if (av_channel_layout_copy(&encoder->ch_layout, &choice.layout) < 0) throw std::bad_alloc();
  encoder->time_base = AVRational{1, choice.sampleRate};
  if (avcodec_open2(encoder, codec, nullptr) < 0) throw Message(kCouldNotOpenAudio);

  audioPacket_.reset(av_packet_alloc());
  if (!audioPacket_) throw Message(kNoAudioPacket);
  audioFrame_.reset(av_frame_alloc());
  if (!audioFrame_) throw Message(kNoAudioFrame);
  audioFrame_->nb_samples = encoder->frame_size;
  audioFrame_->format = encoder->sample_fmt;
  if (av_channel_layout_copy(&audioFrame_->ch_layout, &encoder->ch_layout) < 0 ||
      av_frame_get_buffer(audioFrame_.get(), 0) < 0) {
    throw Message(kNoAudioFrame);
  }

  audioStream_ = avformat_new_stream(formatContext_.get(), codec);
  if (!audioStream_) throw Message(kNoAudioStream);
  audioStream_->id = 1;
  audioStream_->time_base = AVRational{1, choice.sampleRate};
  if (avcodec_parameters_from_context(audioStream_->codecpar, encoder) < 0) {
    throw std::bad_alloc();
  }
}

EncodedStream VidWriter::VideoTarget() const {
  return EncodedStream{formatContext_.get(), codecContext_.get(), stream_, packet_.get()};
}

EncodedStream VidWriter::AudioTarget() const {
  return EncodedStream{formatContext_.get(), audioCodecContext_.get(), audioStream_,
                       audioPacket_.get()};
}

void VidWriter::WriteFrame(const uint8_t* pixels, int stride, double time) {
  CheckBgrPicture(pixels, stride, codecContext_->width);
  const double slot = 1.0 / frameRate_;
  if (time < 0 || !std::isfinite(time)) {
    time = (static_cast<double>(framesWritten_) + 1) * slot;
  } else if (time > static_cast<double>(UINT32_MAX) * slot) {
    // No frame count could reach it: the counter would wrap first.
    throw Message(kTimeOutOfRange);
  }
  while (!(framesWritten_ * slot >= time)) {
    EncodeOnce(pixels, stride);
    ++framesWritten_;
  }
}

void VidWriter::EncodeOnce(const uint8_t* pixels, int stride) {
  converter_.Convert(pixels, stride, frame_.get());
  frame_->pts = nextPts_;
  SendFrame(codecContext_.get(), frame_.get());
  ++nextPts_;
  DrainEncoder(VideoTarget(), video_);
}

}  // namespace tarsel
