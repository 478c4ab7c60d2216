#include "ffmpeg/common/bgr_scaler.h"

#include <cstring>

namespace tarsel {
namespace {

// The full-range (JPEG) formats convert as their limited-range twins with the
// range told to libswscale, which is what libswscale does with them itself.
AVPixelFormat WithoutJpegRange(AVPixelFormat format) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P:
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ440P:
      return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ444P:
      return AV_PIX_FMT_YUV444P;
    default:
      return format;
  }
}

// libswscale's coefficients for a matrix tag; matrices it has none for, and
// untagged pictures, get BT.601's.
const int* MatrixCoefficients(AVColorSpace matrix) {
  const bool known =
      matrix >= AVCOL_SPC_BT709 && matrix <= AVCOL_SPC_BT2020_CL && matrix != AVCOL_SPC_YCGCO;
  return sws_getCoefficients(known ? matrix : AVCOL_SPC_BT470BG);
}

// The matrix both ways, and the source range when the picture states it.
void SetColours(SwsContext* scaler, const PictureKind& source) {
  int* inverseTable = nullptr;
  int* table = nullptr;
  int sourceFull = 0, destinationFull = 0, brightness = 0, contrast = 0, saturation = 0;
  if (sws_getColorspaceDetails(scaler, &inverseTable, &sourceFull, &table, &destinationFull,
                               &brightness, &contrast, &saturation) < 0)
    return;
  if (source.format != WithoutJpegRange(source.format) || source.range == AVCOL_RANGE_JPEG)
    sourceFull = 1;
  else if (source.range == AVCOL_RANGE_MPEG)
    sourceFull = 0;
  const int* coefficients = MatrixCoefficients(source.matrix);
  sws_setColorspaceDetails(scaler, coefficients, sourceFull, coefficients, destinationFull,
                           brightness, contrast, saturation);
}

// Decoders copy a stream's matrix and range codes as they were coded, so a
// damaged stream leaves values beyond FFmpeg's enumerations in those fields.
// They are read as the integers they hold, and a code FFmpeg has no name for
// counts as unspecified.
template <class Enum>
Enum Known(const Enum& field, int count, Enum unspecified) {
  static_assert(sizeof(Enum) == sizeof(int), "FFmpeg's enumerations are ints");
  int value = 0;
  std::memcpy(&value, &field, sizeof value);
  return value >= 0 && value < count ? static_cast<Enum>(value) : unspecified;
}

AVColorSpace KnownMatrix(const AVColorSpace& field) {
  return Known(field, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
}

AVColorRange KnownRange(const AVColorRange& field) {
  return Known(field, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
}

}  // namespace

PictureKind PictureKind::Of(const AVFrame& picture) {
  return {picture.width, picture.height, static_cast<AVPixelFormat>(picture.format),
          KnownMatrix(picture.colorspace), KnownRange(picture.color_range)};
}

PictureKind PictureKind::Of(const AVCodecContext& decoder) {
  return {decoder.width, decoder.height, decoder.pix_fmt, KnownMatrix(decoder.colorspace),
          KnownRange(decoder.color_range)};
}

bool PictureKind::Convertible() const {
  return width > 0 && height > 0 && sws_isSupportedInput(format) > 0;
}

bool PictureKind::ConvertsByColumns() const {
  const AVPixelFormat plain = WithoutJpegRange(format);
  return (plain == AV_PIX_FMT_YUV420P || plain == AV_PIX_FMT_YUV422P) && width > 0 && height > 0 &&
         width % 2 == 0 && height % 2 == 0;
}

bool PictureKind::operator==(const PictureKind& other) const {
  return width == other.width && height == other.height && format == other.format &&
         matrix == other.matrix && range == other.range;
}

bool BgrScaler::Fit(const PictureKind& source, int width, int height) {
  if (scaler_ && source == source_ && width == width_ && height == height_) return true;
  // libswscale asserts on formats it cannot read: they never reach it.
  if (!source.Convertible() || width < 1 || height < 1) {
    scaler_.reset();
    return false;
  }
  scaler_.reset(sws_getCachedContext(scaler_.release(), source.width, source.height,
                                     WithoutJpegRange(source.format), width, height,
                                     AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!scaler_) return false;
  SetColours(scaler_.get(), source);
  source_ = source;
  width_ = width;
  height_ = height;
  return true;
}

bool BgrScaler::Convert(const AVFrame& picture, uint8_t* firstRow, int pitch) {
  return Scale(picture.data, picture.linesize, picture.height, firstRow, pitch);
}

bool BgrScaler::Convert(const uint8_t* const planes[], const int pitches[], uint8_t* firstRow,
                        int pitch) {
  return Scale(planes, pitches, source_.height, firstRow, pitch);
}

bool BgrScaler::Scale(const uint8_t* const planes[], const int pitches[], int rows,
                      uint8_t* firstRow, int pitch) {
  if (!scaler_) return false;
  uint8_t* targets[4] = {firstRow, nullptr, nullptr, nullptr};
  const int targetPitches[4] = {pitch, 0, 0, 0};
  return sws_scale(scaler_.get(), planes, pitches, 0, rows, targets, targetPitches) == height_;
}

}  // namespace tarsel
