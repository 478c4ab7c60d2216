// What FFmpeg may print on the host's console. The library itself never prints;
// FFmpeg's own messages (container dumps, encoder statistics, demuxer warnings,
// decoder complaints after seeks) are silenced at the first Init, unless the
// host chose a level of its own or TARSEL_LOG asks for one.
#pragma once

namespace tarsel {

// Applies the policy once per process; later calls do nothing. TARSEL_LOG:
// "quiet", "error", "warning", "info", "verbose" or "debug" sets FFmpeg's level
// to that value whatever the host had.
void ApplyLogPolicy() noexcept;

}  // namespace tarsel
