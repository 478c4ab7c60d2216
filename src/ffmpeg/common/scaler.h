// Making a libswscale context for pictures whose format and size come from a
// stream or a caller.
#pragma once

#include "ffmpeg/common/av_ptr.h"

namespace tarsel {

// Whether libswscale can take a picture of this format and size as its input
// (or, for an output, produce it). libswscale ends the process with an
// assertion on a format it has no description of (AV_PIX_FMT_NONE, which a
// damaged stream may leave, or a value out of range), so nothing reaches it
// unchecked.
bool ScalerInputFits(int width, int height, AVPixelFormat format);
bool ScalerOutputFits(int width, int height, AVPixelFormat format);

// The context sws_getContext makes (flags: the filter, such as SWS_BICUBIC),
// or null when either side does not fit or libswscale refuses.
ScalerPtr CreateScaler(int sourceWidth, int sourceHeight, AVPixelFormat sourceFormat, int width,
                       int height, AVPixelFormat format, int flags);

}  // namespace tarsel
