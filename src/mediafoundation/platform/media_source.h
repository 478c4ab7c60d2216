// Media sources over capture streams, and the way back from a source to its
// stream for the source reader.
#pragma once

#include <memory>

#include "mediafoundation/platform/capture_device.h"

namespace tarsel::platform {

// A media source delivering stream; it answers IAMCameraControl and
// IAMVideoProcAmp where the stream has those properties.
HRESULT CreateCaptureSource(std::shared_ptr<CaptureStream> stream, IMFMediaSource** source);

// The stream behind a source made by CreateCaptureSource. E_INVALIDARG for other
// sources, MF_E_SHUTDOWN once the source is shut down.
HRESULT StreamOfSource(IMFMediaSource* source, std::shared_ptr<CaptureStream>* stream);

}  // namespace tarsel::platform
