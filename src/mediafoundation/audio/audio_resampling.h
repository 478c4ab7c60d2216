// The audio grabber's resampler: set up for the reader's media type with the
// fixed output format (16-bit stereo PCM at 44,100 Hz), and fed one captured
// sample at a time.
#pragma once

#include <cstdint>
#include <functional>

#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/common/media_foundation.h"

namespace tarsel {

inline constexpr UINT32 kResampledChannels = 2;
inline constexpr UINT32 kResampledBits = 16;
inline constexpr UINT32 kResampledRate = 44100;
inline constexpr UINT32 kResampledBlockAlignment = 4;
inline constexpr UINT32 kResampledBytesPerSecond = 176400;
// The largest block handed to the caller: four seconds of the output format.
inline constexpr uint32_t kResampleBlockSize = 705600;

// A resampler transform from readerType to the output format, flushed and
// streaming. Raises the set-up's messages.
ComPtr<IMFTransform> CreateResampler(IMFMediaType* readerType);

// Receives one block of output: its time, size and bytes. Returns whether
// further blocks of the same sample are wanted.
using ResampledBlockSink = std::function<bool(LONGLONG timestamp, uint32_t size, uint8_t* block)>;

// Converts one captured sample and hands everything the resampler made for it
// to sink, in blocks of at most kResampleBlockSize bytes: one block, possibly
// empty, for usual samples; further ones, timed after the first, for longer
// output. Raises the processing messages; the resampler is left ready for the
// next sample whatever happens.
void Resample(IMFTransform* resampler, IMFSample* sample, LONGLONG timestamp,
              const ResampledBlockSink& sink);

}  // namespace tarsel
