#include "mediafoundation/platform/sink_stream.h"

#include <cerrno>

namespace tarsel::platform {

namespace {

constexpr HRESULT HresultFromWin32(DWORD error) { return MakeHresult(0x80070000u | error); }

}  // namespace

HRESULT HresultFromAv(int averror) {
  switch (averror) {
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
      return HresultFromWin32(3);  // ERROR_PATH_NOT_FOUND
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EISDIR):
      return E_ACCESSDENIED;
    case AVERROR(EROFS):
      return HresultFromWin32(19);  // ERROR_WRITE_PROTECT
    case AVERROR(ENAMETOOLONG):
      return HresultFromWin32(206);  // ERROR_FILENAME_EXCED_RANGE
    case AVERROR(ENOSPC):
    case AVERROR(EDQUOT):
      return HresultFromWin32(112);  // ERROR_DISK_FULL
    case AVERROR(EIO):
      return HresultFromWin32(31);  // ERROR_GEN_FAILURE
    case AVERROR(ENOMEM):
      return E_OUTOFMEMORY;
    case AVERROR(EINVAL):
      return E_INVALIDARG;
    default:
      return E_FAIL;
  }
}

std::unique_ptr<SinkStream> SinkStream::ForOutputType(IMFMediaType* output) {
  GUID major{}, subtype{};
  if (FAILED(output->GetGUID(MF_MT_MAJOR_TYPE, &major)) ||
      FAILED(output->GetGUID(MF_MT_SUBTYPE, &subtype))) {
    return nullptr;
  }
  if (major == MFMediaType_Video && subtype == MFVideoFormat_H264) return MakeH264Stream(output);
  if (major == MFMediaType_Audio && subtype == MFAudioFormat_AAC) return MakeAacStream(output);
  return nullptr;
}

SinkStream::SinkStream(IMFMediaType* output) {
  if (SUCCEEDED(MFCreateMediaType(output_.Put()))) output->CopyAllItems(output_.Get());
}

HRESULT SinkStream::Finish(std::vector<EncoderInput>*) { return S_OK; }

HRESULT SinkStream::AddTo(AVFormatContext* output) {
  packet_.reset(av_packet_alloc());
  stream_ = avformat_new_stream(output, nullptr);
  if (!packet_ || !stream_) return E_OUTOFMEMORY;
  stream_->time_base = encoder_->time_base;  // the container may choose another
  const int result = avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
  return result < 0 ? HresultFromAv(result) : S_OK;
}

HRESULT SinkStream::Encode(EncoderInput* input, const PacketWriter& write) {
  if (input) NoteInput(*input);
  int result = avcodec_send_frame(encoder_.get(), input ? input->frame.get() : nullptr);
  if (result < 0) return HresultFromAv(result);
  while ((result = avcodec_receive_packet(encoder_.get(), packet_.get())) >= 0) {
    StampPacket(packet_.get());
    packet_->stream_index = stream_->index;
    av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
    const HRESULT written = write(packet_.get());
    av_packet_unref(packet_.get());
    if (FAILED(written)) return written;
  }
  return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? S_OK : HresultFromAv(result);
}

}  // namespace tarsel::platform
