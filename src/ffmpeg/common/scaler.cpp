#include "ffmpeg/common/scaler.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace tarsel {
namespace {

bool SizeFits(int width, int height) {
  return width > 0 && height > 0 &&
         av_image_check_size(static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                             nullptr) >= 0;
}

}  // namespace

bool ScalerInputFits(int width, int height, AVPixelFormat format) {
  return av_pix_fmt_desc_get(format) && sws_isSupportedInput(format) > 0 && SizeFits(width, height);
}

bool ScalerOutputFits(int width, int height, AVPixelFormat format) {
  return av_pix_fmt_desc_get(format) && sws_isSupportedOutput(format) > 0 &&
         SizeFits(width, height);
}

ScalerPtr CreateScaler(int sourceWidth, int sourceHeight, AVPixelFormat sourceFormat, int width,
                       int height, AVPixelFormat format, int flags) {
  if (!ScalerInputFits(sourceWidth, sourceHeight, sourceFormat) ||
      !ScalerOutputFits(width, height, format))
    return nullptr;
  return ScalerPtr(sws_getContext(sourceWidth, sourceHeight, sourceFormat, width, height, format,
                                  flags, nullptr, nullptr, nullptr));
}

}  // namespace tarsel
