// H.264 from NV12 pictures with libx264, set up from the output type as the
// platform's H.264 encoder reads it: size, frame rate, profile, level, average
// bit rate and rate-control mode.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>

#include "mediafoundation/platform/sink_stream.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace tarsel::platform {

namespace {

constexpr AVRational kHundredNanoseconds{1, 10000000};
// Larger pictures than the encoder's highest levels describe are refused.
constexpr UINT32 kLargestSide = 8192;
constexpr UINT32 kLevels[] = {10, 11, 12, 13, 20, 21, 22, 30, 31, 32, 40, 41, 42, 50, 51, 52};

UINT32 HighHalf(UINT64 value) { return static_cast<UINT32>(value >> 32); }
UINT32 LowHalf(UINT64 value) { return static_cast<UINT32>(value); }

UINT32 ReadUint32(IMFAttributes* attributes, REFGUID key, UINT32 fallback) {
  UINT32 value = 0;
  return SUCCEEDED(attributes->GetUINT32(key, &value)) ? value : fallback;
}

// libx264's name for the platform's profile code, or null for a profile the
// encoder does not make. Without a profile the platform's encoder makes baseline.
const char* ProfileName(UINT32 code) {
  switch (code) {
    case eAVEncH264VProfile_unknown:
    case eAVEncH264VProfile_Base:
      return "baseline";
    case eAVEncH264VProfile_Main:
      return "main";
    case eAVEncH264VProfile_High:
      return "high";
    default:
      return nullptr;
  }
}

// The platform's level codes are level_idc itself (ten times the level, 1b
// sharing 11 with 1.1); 0 and 0xFFFFFFFF leave the level to the encoder.
bool SetLevel(UINT32 code, AVCodecContext* encoder) {
  if (code == 0 || code == 0xFFFFFFFFu) return true;
  if (std::find(std::begin(kLevels), std::end(kLevels), code) == std::end(kLevels)) return false;
  encoder->level = static_cast<int>(code);
  return true;
}

// Rate control as the platform's modes ask. CBR holds the average rate over a
// one-second buffer and is also what unknown modes get (it is the platform
// encoder's default); the peak-constrained modes may reach twice the average;
// the unconstrained ones only aim at it. The quality mode keeps a constant
// quality instead: CODECAPI_AVEncCommonQuality, 0 (worst) to 100 (best),
// becomes a constant rate factor from 51 down to 1, and CODECAPI_AVEncVideoMinQP
// the smallest quantiser.
void SetRateControl(IMFMediaType* output, AVCodecContext* encoder, AVDictionary** options) {
  const int64_t average = ReadUint32(output, MF_MT_AVG_BITRATE, 0);
  int64_t peak = average;
  switch (
      ReadUint32(output, CODECAPI_AVEncCommonRateControlMode, eAVEncCommonRateControlMode_CBR)) {
    case eAVEncCommonRateControlMode_Quality: {
      UINT32 value = 0;
      if (SUCCEEDED(output->GetUINT32(CODECAPI_AVEncCommonQuality, &value))) {
        const int quality = static_cast<int>(std::min<UINT32>(value, 100));
        av_dict_set_int(options, "crf", std::max(1, 51 * (100 - quality) / 100), 0);
      }
      if (SUCCEEDED(output->GetUINT32(CODECAPI_AVEncVideoMinQP, &value))) {
        encoder->qmin = static_cast<int>(std::min<UINT32>(value, 51));
      }
      return;
    }
    case eAVEncCommonRateControlMode_UnconstrainedVBR:
    case eAVEncCommonRateControlMode_GlobalVBR:
      encoder->bit_rate = average;
      return;
    case eAVEncCommonRateControlMode_PeakConstrainedVBR:
    case eAVEncCommonRateControlMode_LowDelayVBR:
    case eAVEncCommonRateControlMode_GlobalLowDelayVBR:
      peak = 2 * average;
      break;
    default:
      break;
  }
  encoder->bit_rate = average;
  if (average > 0) {
    encoder->rc_max_rate = peak;
    encoder->rc_buffer_size = static_cast<int>(std::min<int64_t>(peak, INT_MAX));
  }
}

class H264Stream final : public SinkStream {
 public:
  explicit H264Stream(IMFMediaType* output) : SinkStream(output) {}

  HRESULT SetInputType(IMFMediaType* input, bool globalHeader) override {
    if (encoder_) return MF_E_INVALIDREQUEST;
    GUID major{}, subtype{};
    UINT64 size = 0, inputSize = 0, rate = 0;
    if (FAILED(input->GetGUID(MF_MT_MAJOR_TYPE, &major)) || major != MFMediaType_Video ||
        FAILED(input->GetGUID(MF_MT_SUBTYPE, &subtype)) || subtype != MFVideoFormat_NV12 ||
        FAILED(output_->GetUINT64(MF_MT_FRAME_SIZE, &size)) ||
        FAILED(output_->GetUINT64(MF_MT_FRAME_RATE, &rate)) ||
        FAILED(input->GetUINT64(MF_MT_FRAME_SIZE, &inputSize)) || inputSize != size) {
      return MF_E_INVALIDMEDIATYPE;
    }
    width_ = HighHalf(size);
    height_ = LowHalf(size);
    // 4:2:0 pictures have whole chroma samples only at even sizes.
    if (width_ == 0 || height_ == 0 || width_ % 2 || height_ % 2 || width_ > kLargestSide ||
        height_ > kLargestSide || HighHalf(rate) == 0 || LowHalf(rate) == 0) {
      return MF_E_TOPO_CODEC_NOT_FOUND;
    }
    return Open(HighHalf(rate), LowHalf(rate), globalHeader);
  }

  HRESULT Prepare(IMFSample* sample, std::vector<EncoderInput>* inputs) override {
    LONGLONG time = 0, duration = 0;
    HRESULT hr = sample->GetSampleTime(&time);
    if (FAILED(hr)) return hr;
    if (FAILED(sample->GetSampleDuration(&duration)) || duration < 0) duration = 0;
    EncoderInput input;
    input.duration = duration;
    hr = CopyPicture(sample, &input.frame);
    if (FAILED(hr)) return hr;
    // The encoder takes pictures in increasing time: one stamped at or before
    // the last follows it by one unit, so no picture is lost.
    if (hasLastTime_ && time <= lastTime_) {
      if (lastTime_ == INT64_MAX) return MF_E_INVALID_TIMESTAMP;
      time = lastTime_ + 1;
    }
    hasLastTime_ = true;
    lastTime_ = time;
    input.frame->pts = time;
    inputs->push_back(std::move(input));
    return S_OK;
  }

 protected:
  void NoteInput(const EncoderInput& input) override {
    durations_[input.frame->pts] = input.duration;
  }
  // A packet lasts as its sample did; a sample without a duration lasts until
  // the picture after it, and the last one as long as the gap before it.
  void StampPacket(AVPacket* packet) override {
    LONGLONG duration = 0;
    if (auto found = durations_.find(packet->pts); found != durations_.end()) {
      duration = found->second;
      durations_.erase(found);
    }
    if (duration == 0 && hasLastPacket_) duration = packet->pts - lastPacketTime_;
    packet->duration = duration;
    hasLastPacket_ = true;
    lastPacketTime_ = packet->pts;
  }

 private:
  static constexpr HRESULT MF_E_INVALID_TIMESTAMP = MakeHresult(0xC00D36C0u);

  HRESULT Open(UINT32 rateNumerator, UINT32 rateDenominator, bool globalHeader) {
    const char* profile = ProfileName(ReadUint32(output_.Get(), MF_MT_MPEG2_PROFILE, 0));
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!profile || !codec) return MF_E_TOPO_CODEC_NOT_FOUND;
    CodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder) return E_OUTOFMEMORY;
    if (!SetLevel(ReadUint32(output_.Get(), MF_MT_MPEG2_LEVEL, 0), encoder.get())) {
      return MF_E_TOPO_CODEC_NOT_FOUND;
    }
    encoder->width = static_cast<int>(width_);
    encoder->height = static_cast<int>(height_);
    encoder->pix_fmt = AV_PIX_FMT_NV12;
    encoder->time_base = kHundredNanoseconds;
    av_reduce(&encoder->framerate.num, &encoder->framerate.den, rateNumerator, rateDenominator,
              INT_MAX);
    encoder->max_b_frames = 0;  // as the platform's encoder: pictures leave in their order
    if (globalHeader) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "veryfast", 0);
    av_dict_set(&options, "profile", profile, 0);
    // Rate control and the stream's timing follow the frame rate, not the
    // 100-ns clock of the samples' times.
    av_dict_set(&options, "x264-params", "force-cfr=1", 0);
    SetRateControl(output_.Get(), encoder.get(), &options);
    const int result = avcodec_open2(encoder.get(), codec, &options);
    av_dict_free(&options);
    if (result < 0) return result == AVERROR(ENOMEM) ? E_OUTOFMEMORY : MF_E_TOPO_CODEC_NOT_FOUND;
    encoder_ = std::move(encoder);
    return S_OK;
  }

  // The sample's bytes as one NV12 picture: the luma rows, then the
  // interleaved chroma rows, width bytes each, without gaps.
  HRESULT CopyPicture(IMFSample* sample, FramePtr* picture) const {
    ComPtr<IMFMediaBuffer> buffer;
    HRESULT hr = sample->ConvertToContiguousBuffer(buffer.Put());
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    DWORD length = 0;
    hr = buffer->Lock(&data, nullptr, &length);
    if (FAILED(hr)) return hr;
    const uint64_t lumaBytes = uint64_t{width_} * height_;
    if (length < lumaBytes * 3 / 2) {
      buffer->Unlock();
      return MF_E_BUFFERTOOSMALL;
    }
    FramePtr frame(av_frame_alloc());
    if (frame) {
      frame->format = AV_PIX_FMT_NV12;
      frame->width = static_cast<int>(width_);
      frame->height = static_cast<int>(height_);
    }
    if (!frame || av_frame_get_buffer(frame.get(), 0) < 0) {
      buffer->Unlock();
      return E_OUTOFMEMORY;
    }
    const uint8_t* planes[4] = {data, data + lumaBytes, nullptr, nullptr};
    const int pitches[4] = {static_cast<int>(width_), static_cast<int>(width_), 0, 0};
    av_image_copy(frame->data, frame->linesize, planes, pitches, AV_PIX_FMT_NV12, frame->width,
                  frame->height);
    buffer->Unlock();
    *picture = std::move(frame);
    return S_OK;
  }

  UINT32 width_ = 0;
  UINT32 height_ = 0;
  bool hasLastTime_ = false;
  LONGLONG lastTime_ = 0;
  // Read and written on the writer's worker only.
  std::map<int64_t, LONGLONG> durations_;
  bool hasLastPacket_ = false;
  int64_t lastPacketTime_ = 0;
};

}  // namespace

std::unique_ptr<SinkStream> MakeH264Stream(IMFMediaType* output) {
  return std::make_unique<H264Stream>(output);
}

}  // namespace tarsel::platform
