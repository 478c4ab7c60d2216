// FFmpeg's network start-up, done at most once per family that needs it and
// never undone.
#pragma once

namespace tarsel {

// The video reader's start-up (VIDEO_Init).
void StartReaderNetwork() noexcept;
// The audio/video writer's start-up (VIDWRITER_Init).
void StartWriterNetwork() noexcept;

}  // namespace tarsel
