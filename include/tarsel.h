/*
 * Tarsel: a flat C interface to video and audio media.
 *
 * This header is the library's API guide: the rules below hold for every
 * family, each family's block adds its own, and each export says what it does
 * with its arguments. The families are independent: a handle belongs to the
 * family that made it and is never passed to another family's exports.
 *
 * Objects and handles
 *  - FAMILY_Init(&handle, ..., errorText) makes an object and writes its opaque
 *    handle into the caller's variable. On failure the variable keeps what it
 *    held, except after MP4WRITER_Init, MP4Muxer_Init and MFEncoder_Init, which
 *    write the handle before opening: clear theirs after every result. A NULL
 *    handle pointer gives 1 and "The handle pointer is null".
 *  - The other exports take the handle by value. FAMILY_Clear(&handle) releases
 *    the object (finishing its file, where it writes one) and stores NULL in
 *    the variable; it returns 0, and a Clear of a NULL handle does nothing, so a
 *    second Clear is harmless. A handle must not be used after its Clear.
 *
 * The error text (errorText)
 *  - A caller-owned buffer of TARSEL_ERROR_TEXT_SIZE (200) bytes. A message is
 *    copied into it as plain text, at most 199 characters and a NUL; the
 *    library never keeps the pointer. A NULL errorText is accepted: the message
 *    is then lost.
 *  - "Clears errorText" below means that the export sets all 200 bytes to NUL
 *    on entry, so after success the buffer holds the empty string. Exports that
 *    do not clear it leave it exactly as the caller passed it unless they write
 *    a message: a caller reusing one buffer must not read an old message as new.
 *    Every Init clears it. Which other exports clear it is said per family.
 *
 * Return codes
 *  - 0 success; 1 an anticipated failure, its message in errorText (or, where
 *    an export says so, no message: end of input, a refused request); 2 an
 *    unexpected failure (memory exhausted, ...) inside an Init or one of the few
 *    operations that say so, errorText holding the export's fixed text, which
 *    does not always name that export ("Unknown exception in GRABBER_Init").
 *  - A NULL handle given to an operation gives 1 and the family's "not
 *    initialized" message, quoted per family (some keep old spellings).
 *  - Exports without an errorText report through their own results, listed with
 *    each (-1 for a NULL handle, mostly).
 *  - Texts are the library's own words, kept as callers have always seen them,
 *    spelling included; FFmpeg's texts (av_strerror) and, for the capture and
 *    encoder families, the system's texts for an HRESULT appear where said.
 *
 * Buffers and ownership
 *  - Every pointer argument stays the caller's. Buffers the library fills are
 *    sized by the caller as each export says; data handed in is copied (or
 *    encoded) before the export returns. The one exception: the block passed to
 *    a capture ready callback belongs to the library and lives only while the
 *    callback runs.
 *  - Pictures are BGR24 (3 bytes a pixel: blue, green, red; top row first)
 *    unless an export says otherwise. Sample blocks are interleaved signed
 *    16-bit little-endian PCM; a "sample count" counts samples per channel.
 *  - Paths are UTF-8 (also on Windows), except MFEncoder_Init's UTF-16 url.
 *
 * Time
 *  - The FFmpeg families speak in seconds as doubles: the readers from the
 *    stream's first picture or sample, the writers from the file's start (as
 *    each says); or in the stream's own time-base ticks where an export says
 *    "ticks".
 *  - The capture and encoder families count in 100-ns units (10,000,000 a
 *    second) as int64.
 *
 * Threads
 *  - A handle is used by one thread at a time; two threads calling into the same
 *    handle at once is a caller error. Different handles are independent: any
 *    exports may run at the same time on different handles, Inits included.
 *  - The FFmpeg families run entirely on the caller's thread and call back only
 *    into VIDEO_Init's interrupt callback, on that thread.
 *  - The capture families call the ready callbacks on a worker thread; their
 *    StopGrabbing and Clear may be called from any thread, even from inside the
 *    callback. MFEncoder_ accepts pictures and audio from two threads at once.
 *
 * The library prints nothing. At the first Init of an FFmpeg family it silences
 * FFmpeg's own messages if the host left FFmpeg's log level at its default; a
 * host that set a level keeps it. TARSEL_LOG=quiet|error|warning|info|
 * verbose|debug in the environment sets FFmpeg's level instead, for diagnosis.
 */
#ifndef TARSEL_H
#define TARSEL_H

#include <stdint.h>

#ifndef __cplusplus
#include <stdbool.h>
#include <uchar.h>
#endif

#if defined(_WIN32)
#define TARSEL_CALL __stdcall
#define TARSEL_EXPORT
#else
#define TARSEL_CALL
#if defined(TARSEL_BUILDING_LIBRARY)
#define TARSEL_EXPORT __attribute__((visibility("default")))
#else
#define TARSEL_EXPORT
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of the library this header belongs to (filled in by the build). */
/* clang-format off */
#define TARSEL_VERSION_MAJOR @PROJECT_VERSION_MAJOR@
#define TARSEL_VERSION_MINOR @PROJECT_VERSION_MINOR@
#define TARSEL_VERSION_PATCH @PROJECT_VERSION_PATCH@
/* clang-format on */

#define TARSEL_ERROR_TEXT_SIZE 200

/* UTF-16 text at the boundary: wchar_t on Windows, char16_t elsewhere. */
#if defined(_WIN32)
typedef wchar_t tarsel_char16;
#else
typedef char16_t tarsel_char16;
#endif

/* ------------------------------------------------------------------ records */

/* Filled by VIDEO_getVidInfoStruct. 112 bytes; bytes 12..15 are never written. */
typedef struct VidInfo {
  int32_t width;          /* output width (after the aspect correction) */
  int32_t height;         /* output height */
  int32_t frameCount;     /* frames the reader will deliver */
  int32_t reserved;       /* padding, left as the caller had it */
  double duration;        /* seconds, from the first picture to the stream's end */
  double frameRate;       /* frames per second */
  int64_t bitRate;        /* decoder context bit rate */
  int32_t gopSize;        /* decoder context gop size */
  int32_t codecId;        /* FFmpeg codec id number */
  int64_t startTimestamp; /* first packet's timestamp (dts, else pts), stream ticks */
  int32_t timeBaseNum;    /* stream time base: a tick is num / den seconds */
  int32_t timeBaseDen;
  int32_t realFrameRateNum; /* stream r_frame_rate */
  int32_t realFrameRateDen;
  int32_t avgFrameRateNum; /* stream avg_frame_rate */
  int32_t avgFrameRateDen;
  double streamDuration; /* seconds, as the container states it */
  double lastPacketTime; /* seconds, last video packet seen while opening */
  int64_t streamDurationTicks;
  int64_t streamFrameCount; /* as the container states it (0: not stated) */
} VidInfo;

/* A GUID in the Windows layout. */
typedef struct TarselGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} TarselGuid;

/* One capture format of a camera (MFCamGrabber_GetConfig). 40 bytes. */
typedef struct CamConfig {
  TarselGuid subtype; /* MF_MT_SUBTYPE, e.g. MFVideoFormat_NV12 */
  uint32_t width;     /* 0 when the format has no frame size */
  uint32_t height;
  uint32_t frameRateNumerator; /* maximum of the frame-rate range; 0 when none */
  uint32_t frameRateDenominator;
  double framesPerSecond; /* numerator / denominator (NaN for 0/0) */
} CamConfig;

/* One capture format of an audio device (MFAudioGrabber_GetConfig). 40 bytes. */
typedef struct AudioConfig {
  TarselGuid subtype; /* MF_MT_SUBTYPE, e.g. MFAudioFormat_PCM */
  uint32_t bitsPerSample;
  uint32_t numChannels;
  uint32_t samplesPerSecond;
  uint32_t blockAlignment;
  uint32_t avgBytesPerSecond;
  uint32_t allSamplesIndependent;
} AudioConfig;

/* Settings of MFEncoder_Init. 64 bytes. */
typedef struct EncoderSettings {
  uint32_t width;
  uint32_t height;
  uint32_t frameRate;   /* whole frames per second, at least 1 */
  uint32_t bitRateKbps; /* average video bit rate in units of 1024 bit/s */
  uint32_t profile;     /* MF_MT_MPEG2_PROFILE value, passed through */
  uint32_t level;       /* MF_MT_MPEG2_LEVEL value, passed through */
  uint32_t hasAudio;    /* nonzero: add an AAC stream */
  uint32_t numChannels; /* audio fields are read only with hasAudio */
  uint32_t samplesPerSecond;
  uint32_t bitsPerSample;
  uint32_t reserved;       /* not read */
  uint32_t blockAlignment; /* in/out: set to bitsPerSample / 8 * numChannels */
  uint8_t zeroDuration;    /* nonzero: video samples get duration 0 */
  uint8_t padding[3];
  uint32_t rateControlMode; /* CODECAPI_AVEncCommonRateControlMode; 3 = quality */
  uint32_t quality;         /* used only in mode 3 */
  uint32_t minQP;           /* used only in mode 3 */
} EncoderSettings;

/* ---------------------------------------------------------------- callbacks */

/* Called by FFmpeg, on the thread inside VIDEO_Init or a VIDEO_ operation,
 * while it waits on a blocking input (a network stream); opaque is the
 * callback's own address. Returns nonzero to abort the wait, which then fails
 * the call. */
typedef int (*VideoInterruptCallBack)(void* opaque);

/* Called on a capture worker thread for every block: the block number (1 for
 * the first block after StartGrabbing), the source's timestamp in 100-ns
 * units (on the device's clock, which does not start at 0), the byte count,
 * and the block, which belongs to the library and is valid only during the
 * call. Blocks of one grabber arrive one after another, never at once. */
typedef void(TARSEL_CALL* FrameReadyCallBack)(uint32_t blockNumber, int64_t timestamp,
                                              uint32_t byteCount, uint8_t* block);
typedef void(TARSEL_CALL* AudioReadyCallBack)(uint32_t blockNumber, int64_t timestamp,
                                              uint32_t byteCount, uint8_t* block);

/* ======================================================= VIDEO_: video reader
 *
 * Decoded pictures of a file or network stream as BGR24, in sequence, by time
 * or by frame index. Outside sequential and live mode, index k stands for the
 * time k / frameRate from the stream's first picture: the reader resamples the
 * stream to a constant rate. A regular stream is numbered at its own rate, one
 * picture per index. Where pictures lie on a finer grid than the average rate
 * (frames dropped or cut out, variable rate), they are numbered on that grid;
 * an index without a picture of its own gets the next picture (the last picture
 * serves every index after it). Reading indices 0 to frameCount - 1 in turn
 * delivers every picture at least once. At a rate set with VIDEO_SetFrameRate,
 * index k is the first picture at or after k / rate. Pictures are converted to
 * BGR24 with the stream's own YUV matrix and range. Times are seconds from the
 * stream's first picture.
 *
 * errorText: cleared by every export except the three picture exports, which
 * write it only for a NULL handle. Null-handle message of every operation:
 * "Video grabber not inititialized" (sic).
 *
 * Picture buffers (pixels, stride): height rows of 3 x width bytes (the output
 * size VIDEO_getVideoInfo reports), row k written at pixels + k * stride; bytes
 * between rows are left alone. stride may be negative (pixels then points at
 * the last row of the buffer, for a bottom-up picture); |stride| below
 * 3 x width is refused (result 1, nothing written). A NULL pixels decodes and
 * advances without copying.
 *
 * Live mode (VIDEO_Init's live) reads forward only: the frame count does not
 * limit VIDEO_getNextFrame, VIDEO_getFrameWithTimeStamp is refused,
 * VIDEO_getFrameWithIndex reads on to a later index (1 for one already
 * passed), and VIDEO_Rewind and VIDEO_SetFrameRate do nothing. In live and
 * sequential mode every picture is delivered once, in decoder order, numbered
 * one after the other.
 *
 * Network inputs (anything but a local file):
 * - In live mode "xxrtsp://host/path" is "rtsp://host/path" over TCP, and
 *   "rtsp://" stays on UDP; outside live mode FFmpeg chooses the transport.
 * - Waits are bounded. Opening (connecting, reading the stream's description)
 *   may take TARSEL_OPEN_TIMEOUT_MS milliseconds and each read may wait
 *   TARSEL_READ_TIMEOUT_MS for data (30000 each by default, 0 for no limit; read
 *   from the environment by each VIDEO_Init). A timed-out open returns 1 with
 *   "Connection timed out". The interrupt callback is asked first all along (it
 *   receives itself as its argument); returning nonzero ends the wait (an open
 *   so ended returns 1 with "Immediate exit requested"). It is how
 *   another thread ends a blocked call: a reader is used by one thread at a time,
 *   and VIDEO_Clear while another thread is inside a call of the same reader is
 *   not supported.
 * - A read that times out or is interrupted ends the reader: the pictures
 *   already received are delivered, then every picture call returns 1 at once.
 *   A live stream whose connection is lost ends the same way. There is no
 *   reconnection: clear the reader and open the address again.
 * - Live streams without timestamps (MJPEG) are timed by the pictures' arrival
 *   at the reader, from 0 at the first picture, and report the rate measured
 *   from the arrivals (0 before the second picture). Every live picture has its
 *   own time.
 * - In live mode a picture the decoder finds damaged (a truncated JPEG, a
 *   concealed H.264 picture) is skipped and the next good one delivered.
 * - A file served without byte ranges is read again from its start (a new
 *   connection) to go back; one whose pictures come before the index it ends
 *   with fails to open with "Could not return to the start of the input".
 * - VidInfo reports 0 for what a stream does not have (a live stream's length).
 */

/* Opens a file or stream address (UTF-8, handed to FFmpeg unchanged), picks the
 * best video stream and settles the frame rate and frame count, scanning the
 * end of the stream (or all of it, when the container's numbers are doubtful).
 *   live: live mode; RTSP goes over UDP, and an address written "xxrtsp://..."
 *     is opened as "rtsp://..." over TCP; an address ending in "cgi" is read as
 *     MJPEG.
 *   applyAspect: stretch the output width by the sample aspect ratio (the
 *     width's bit 1 is then cleared).
 *   interruptCallback: NULL, or the callback above.
 *   sequential: deliver every picture once, in decoder order, numbered one
 *     after the other whatever its time, and trust the container's frame count.
 * Clears errorText. Returns 0; 1 with FFmpeg's text when the input cannot be
 * opened or read, or "No path given", "Could not find videostream", "Codec not
 * found", "Failed to allocate the codec context", "Failed to copy the codec
 * parameters to the codec context", "Failed to open codec", "Could not allocate
 * an AVFrame", "Could not allocate an AVPacket", "Could not retrieve correct
 * video size", "Could not create the picture converter", "Could not return to
 * the start of the input"; 2 with "Unknown exception in VIDEO_Init". */
TARSEL_EXPORT int TARSEL_CALL VIDEO_Init(void** handle, const char* path, uint8_t live,
                                         uint8_t applyAspect,
                                         VideoInterruptCallBack interruptCallback,
                                         uint8_t sequential, char* errorText);
/* Output width and height in pixels, frame count, duration in seconds and frame
 * rate (each out-pointer may be NULL). Also settles the duration that
 * VIDEO_getFrameWithTimeStamp checks: call this or VIDEO_getVidInfoStruct
 * before seeking by time. Clears errorText. Returns 0, or 1 for a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_getVideoInfo(void* handle, int32_t* width, int32_t* height,
                                                 int32_t* frameCount, double* duration,
                                                 double* frameRate, char* errorText);
/* Fills the caller's VidInfo (every field but reserved; info may be NULL) and
 * settles the duration as VIDEO_getVideoInfo does. Clears errorText. Returns 0,
 * or 1 for a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_getVidInfoStruct(void* handle, VidInfo* info, char* errorText);
/* Writes 0: the reader does not examine audio. Clears errorText. Returns 0, or 1
 * for a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_getAudioInfo(void* handle, uint32_t* audioInfo,
                                                 char* errorText);
/* Releases the reader and stores NULL in *handle. Returns 0. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_Clear(void** handle);

/* The picture with the next index (0 after opening or rewinding). Returns 0
 * with a picture, 1 without one (end of input, the frame count reached, an
 * undecodable stream, a refused stride); no message either way. After every
 * call with a valid handle, frameIndex, frameTime (seconds) and frameTimeAgain
 * (the same time) hold the reader's position: the index and time of the
 * picture last delivered (frameIndex 0xFFFFFFFF before the first). At the end
 * of input the pictures the decoder still holds are delivered first; then 1
 * until VIDEO_Rewind or a seek. Does not clear errorText. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_getNextFrame(void* handle, uint8_t* pixels, int32_t stride,
                                                 uint32_t* frameIndex, double* frameTime,
                                                 double* frameTimeAgain, char* errorText);
/* The first picture at or after time seconds. Refused (1, no message) in live
 * mode, for a negative time, and for a time at or beyond the duration, which is
 * 0 (so every time is refused) until VIDEO_getVideoInfo or
 * VIDEO_getVidInfoStruct has run; also 1 when the seek or decoding fails. The
 * out-values are written only with a picture: its index and time. Sequential
 * reading continues after that picture. Does not clear errorText. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_getFrameWithTimeStamp(void* handle, uint8_t* pixels,
                                                          int32_t stride, double time,
                                                          uint32_t* frameIndex, double* frameTime,
                                                          double* frameTimeAgain, char* errorText);
/* The picture with index 0 .. frameCount - 1, found by seeking to the key frame
 * before it and decoding forward. Returns 0 with it; 1 (no message) for an
 * index outside that range, which leaves the reader as it was, and when the
 * seek or decoding fails. The out-values are written only with a picture.
 * Within the range the next VIDEO_getNextFrame continues at index + 1,
 * delivered or not. Does not clear errorText. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_getFrameWithIndex(void* handle, uint8_t* pixels, int32_t stride,
                                                      int32_t index, uint32_t* frameIndex,
                                                      double* frameTime, double* frameTimeAgain,
                                                      char* errorText);
/* Back to the start: the next picture is index 0. Does nothing in live mode.
 * Clears errorText. Returns 0 (also when the input cannot seek back), or 1 for
 * a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_Rewind(void* handle, char* errorText);
/* Moves the position count indices on without decoding (count <= 0: nothing);
 * the next VIDEO_getNextFrame decodes its way to the index after the new
 * position. Clears errorText. Returns 0, or 1 for a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_SkipFrames(void* handle, int32_t count, char* errorText);
/* Decodes the whole stream from the start and reports the pictures decoded,
 * the raw pts of the first and last (stream ticks; -1 with no picture), and the
 * stream's time base (a tick is num / den seconds). Leaves the reader at the
 * end of the stream: rewind or seek before reading pictures again. Clears
 * errorText. Returns 0, or 1 for a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_ReadAllFrames(void* handle, uint32_t* count, int64_t* firstPts,
                                                  int64_t* lastPts, uint32_t* timeBaseNum,
                                                  uint32_t* timeBaseDen, char* errorText);
/* Numbers the pictures at frameRate frames per second from now on and
 * recomputes the frame count from the duration. A rate that is not positive
 * and finite, and live mode, change nothing. Clears errorText. Returns 0, or 1
 * for a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_SetFrameRate(void* handle, double frameRate, char* errorText);
/* Self-test: decodes the whole stream from the start, discarding the pictures,
 * and leaves the reader at the end. Clears errorText. Returns 0, or 1 for a
 * NULL handle. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_TEST(void* handle, char* errorText);

/* ======================================================= AUDIO_: audio reader
 *
 * The best audio stream of a media file, decoded block by block to interleaved
 * signed 16-bit PCM at the stream's own sample rate and channel count, the
 * channels in the order the decoder gives them. Times are seconds from the stream's
 * first sample. errorText: cleared by AUDIO_Init and AUDIO_GetAudioInfo only.
 * Null-handle message: "Audio grabber not inititialized" (sic).
 */

/* Opens path (UTF-8) and its best audio stream. streamIndex (may be NULL)
 * receives -1, then the index of the stream chosen. Clears errorText. Returns
 * 0; 1 with FFmpeg's text when the file or the decoder cannot be opened, or
 * "Could not allocate format context.", "Could not find audio stream", "Could
 * not find the proper codec.", "Could not allocate the codec context", "Could
 * not allocate audio frame."; 2 with "Unknown exception in AUDIO_Init". */
TARSEL_EXPORT int TARSEL_CALL AUDIO_Init(void** handle, const char* path, int32_t* streamIndex,
                                         char* errorText);
/* Reports hasAudio (1), channels, sampleRate, bufferSize (the most bytes one
 * block holds: size AUDIO_GetNewAudioSamples' buffer with it) and duration in
 * seconds; each out-pointer may be NULL. codecName: NULL or a 200-byte buffer,
 * cleared, then given the decoder's long name. Also settles the duration that
 * AUDIO_JumpToTimeStamp checks: call it before jumping. Clears errorText.
 * Returns 0, or 1 for a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL AUDIO_GetAudioInfo(void* handle, int32_t* hasAudio, int32_t* channels,
                                                 int32_t* sampleRate, int32_t* bufferSize,
                                                 double* duration, char* codecName,
                                                 char* errorText);
/* Decodes the next block into samples (at least bufferSize bytes; a decoded
 * frame larger than that arrives over several calls) and reports its samples
 * per channel, its bytes (samples x channels x 2) and the time of its first
 * sample. time, sampleCount and byteCount are first set to -1.0, 0 and 0.
 * Returns 0 with a block; 1 with no block and no message at the end of the file
 * or when nothing more can be decoded (every call then returns 1 until a jump);
 * 1 with "The sample buffer is null." for a NULL samples. Does not clear
 * errorText. */
TARSEL_EXPORT int TARSEL_CALL AUDIO_GetNewAudioSamples(void* handle, uint8_t* samples,
                                                       int32_t* sampleCount, int32_t* byteCount,
                                                       double* time, char* errorText);
/* time: in, the seconds to jump to; out, the time of the first block that the
 * next AUDIO_GetNewAudioSamples will deliver, 0.0 when the jump lands at the end
 * of the file, or -1.0 when the seek fails or the jump is refused: a time that
 * is negative, not a number, or at or beyond the duration (0 until
 * AUDIO_GetAudioInfo has run, so every jump is refused before it); a refused
 * jump changes nothing. Returns 0 (after a refusal too), or 1 for a NULL
 * handle. Does not clear errorText. */
TARSEL_EXPORT int TARSEL_CALL AUDIO_JumpToTimeStamp(void* handle, double* time, char* errorText);
/* Releases the reader and stores NULL in *handle. Returns 0. */
TARSEL_EXPORT int TARSEL_CALL AUDIO_Clear(void** handle);

/* ================================================ AACDECODER_: AAC packets
 *
 * Single AAC packets (raw, or ADTS with their headers) decoded and resampled
 * to interleaved signed 16-bit PCM at the caller's output rate, channels in
 * FFmpeg's default order for the count. For each packet: AACDECODER_DecodePacket
 * tells how many samples per channel are ready, AACDECODER_GetDecodedData copies
 * them. Only Init has an errorText (cleared); the others report by their
 * results. The resampler keeps its delay line between packets: the count ready
 * after a packet is what it really produced.
 */

/* channels: 1 to 8; inSampleRate: the stream's rate; outSampleRate: the rate
 * handed back. Clears errorText. Returns 0; 1 with "The channel count must be
 * between 1 and 8.", "The sample rates must be above 0.", "Codec not found.",
 * "Could not allocate audio codec context.", "Could not open codec." or "Could
 * not allocate audio frame."; 2 with "Unknown exception in AACDECODER_Init". */
TARSEL_EXPORT int TARSEL_CALL AACDECODER_Init(void** handle, int32_t channels, int32_t inSampleRate,
                                              int32_t outSampleRate, char* errorText);
/* Decodes one packet of size bytes (copied; not kept). outSamples (may be NULL)
 * receives the samples per channel now ready at the output rate, 0 when the
 * packet completed no frame. Returns -1 for a NULL handle, a NULL data or
 * size < 1 (nothing else happens); 1 when the packet is refused or cannot be
 * decoded (nothing ready); else 0. */
TARSEL_EXPORT int TARSEL_CALL AACDECODER_DecodePacket(void* handle, const uint8_t* data,
                                                      int32_t size, int32_t* outSamples);
/* Copies the block made ready by the last AACDECODER_DecodePacket into pcm:
 * min(size, outSamples x channels x 2) bytes. A size above 192000 or below 1,
 * or a NULL pcm, copies nothing. Returns -1 for a NULL handle, otherwise 1
 * (success included). */
TARSEL_EXPORT int TARSEL_CALL AACDECODER_GetDecodedData(void* handle, uint8_t* pcm, int32_t size);
/* Releases the decoder and stores NULL in *handle. Returns 0. */
TARSEL_EXPORT int TARSEL_CALL AACDECODER_Clear(void** handle);

/* ==================================== LLWRITER_: FFV1 video writer
 *
 * A video-only file of BGR24 pictures, one encoded frame per picture, at a
 * constant rate: frames are timed by their order. The codec is what the
 * container (chosen by the file name's extension) maps the tag "FFV1" to:
 * FFV1, in YUV 4:2:0. errorText: cleared by LLWRITER_Init only. Null-handle
 * message: "Video writer not inititialized" (sic).
 */

/* Opens path (UTF-8) for pictures of width x height at frameRate frames per
 * second and writes the file's header. Clears errorText. Returns 0; 1 with
 * "No output path given", "Invalid picture size", "Invalid frame rate", "Could
 * not init video format" (no container for the name), "Could inder the proper
 * codec id from fourcc" (sic: the container knows no FFV1), "Could not init
 * output context", "Could not find codec", "could not allocate codec context",
 * "Could not allocate stream", "Could not set framerate", "Dictonary error",
 * "could not open codec\n", "could alloc frame", "Could not allocate
 * frameBuff", "Could not allocate pixel convert context", or FFmpeg's text when
 * the file cannot be created or its header written; 2 with "Unknown exception
 * in LLWRITER_Init". */
TARSEL_EXPORT int TARSEL_CALL LLWRITER_Init(void** handle, const char* path, int32_t width,
                                            int32_t height, double frameRate, char* errorText);
/* Encodes one picture of the writer's size: height rows of 3 x width bytes,
 * stride (at least 3 x width) bytes apart. time is not used. Returns 0; 1 with
 * "The picture is null", "The stride is smaller than a picture row", "Could
 * send encode video frame\n", "Error during encoding\n" or "Could not encode
 * video frame\n" (the file could not take the frame); the writer stays usable.
 * Does not clear errorText. */
TARSEL_EXPORT int TARSEL_CALL LLWRITER_WriteFrame(void* handle, const uint8_t* pixels,
                                                  int32_t stride, double time, char* errorText);
/* Drains the encoder, writes the trailer, closes the file, releases the writer
 * and stores NULL in *handle. Returns 0. A writer never cleared leaves a file
 * without its trailer. */
TARSEL_EXPORT int TARSEL_CALL LLWRITER_Clear(void** handle);
/* Self-test: writes a file with a header, no frames and a trailer, at 640x480
 * and 15 frames per second. Returns 0, or 1 when the file cannot be written. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_TESTWriter(const char* path);

/* ============================== VIDWRITER_: timed audio/video writer
 *
 * A file at a constant frame rate in the container's default video codec
 * (chosen by a format name or the file name; H.264 for MP4 once an
 * MP4WRITER_Init or MP4Muxer_Init has run in the process), from BGR24 pictures
 * that carry a time. Frame n fills the slot from n / frameRate to
 * (n + 1) / frameRate, and a picture's time is the end of its slot: each
 * picture is written into every slot not yet written that ends at or before its
 * time, so a picture is repeated across a gap and dropped when its time is
 * already covered (the first picture at time 0 is not written). errorText:
 * cleared by VIDWRITER_Init only. Null-handle message: "Video writer not
 * inititialized" (sic).
 */

/* Opens path (UTF-8). formatName: a container short name in FFmpeg's naming
 * ("mp4", "matroska", "avi", ...), or NULL or "" to choose by the path's
 * extension. bitRate in bits per second, frameRate in whole frames per second,
 * gopSize the key-frame interval in frames. withAudio nonzero adds an AAC
 * stream, which receives no samples (this writer takes none). Clears errorText.
 * Returns 0; 1 with "No output path given", "Invalid picture size", "Invalid
 * frame rate", "Invalid bit rate", "Invalid gop size", "Could not find
 * suitable output format", "Could not init output context", "video codec not
 * found", "Could not alloc video stream", "could not allocate codec context",
 * "could not open codec\n" (the codec refuses the settings, for example an odd
 * size), "Could not allocate picture\n", "Cannot initialize the conversion
 * context\n", an audio message ("Could not allocate audio codec context",
 * "Audio Encoder does not support sample format", "Could not open audio
 * codec", "Could not allocate audio packet", "Could not allocate audio frame",
 * "Could not allocate audio stream"), or FFmpeg's text when the file cannot be
 * created or its header written; 2 with "Unknown exception in VIDWRITER_Init". */
TARSEL_EXPORT int TARSEL_CALL VIDWRITER_Init(void** handle, const char* path, int32_t width,
                                             int32_t height, uint8_t withAudio,
                                             const char* formatName, int32_t bitRate,
                                             int32_t frameRate, int32_t gopSize, char* errorText);
/* Writes one picture (height rows of 3 x width bytes, stride at least 3 x width
 * bytes apart) into the slots that end at or before time (seconds), as above; a
 * negative or non-finite time writes it exactly once, into the next slot.
 * Returns 0 (also when the picture filled no slot); 1 with "The picture is
 * null", "The stride is smaller than a picture row", "The picture's time is
 * beyond the writer's frame count", "Could send encode video frame\n", "Error
 * during encoding\n" or "Could not encode video frame\n"; the writer stays
 * usable. Does not clear errorText. */
TARSEL_EXPORT int TARSEL_CALL VIDWRITER_WriteFrame(void* handle, const uint8_t* pixels,
                                                   int32_t stride, double time, char* errorText);
/* encodedBytes: bytes of video written so far (wraps at 2^32); frameCount:
 * frames written so far (each may be NULL). Returns 0, or 1 for a NULL handle
 * (nothing written). Does not clear errorText. */
TARSEL_EXPORT int TARSEL_CALL VIDWRITER_GetVideoInfo(void* handle, uint32_t* encodedBytes,
                                                     uint32_t* frameCount, char* errorText);
/* Drains the encoders, writes the trailer, closes the file, releases the writer
 * and stores NULL in *handle. Returns 0. */
TARSEL_EXPORT int TARSEL_CALL VIDWRITER_Clear(void** handle);

/* ========================== MP4WRITER_ / MP4Muxer_: pre-encoded H.264
 *
 * H.264 that the caller encoded elsewhere, stored without re-encoding in the
 * container the file name's extension chooses (MP4, or any other taking
 * H.264). The two families are the same writer; the muxer also declares an
 * empty AAC stream (mono, 16 kHz). Order: Init, AddSPSPPS, frames, Clear.
 *
 * Init writes the handle before it opens the file: after every Init result,
 * 0, 1 or 2, call Clear. Inits change the process's defaults: a later
 * VIDWRITER_Init on the same container encodes H.264 (and AAC for the muxer's).
 *
 * Access units are Annex-B (start codes before each NAL unit). A unit whose
 * fifth byte is 0x65 (an IDR slice behind a 4-byte start code) is a key frame;
 * units before the first key frame are refused. Times: AddFrame places each
 * unit one frame (at Init's frameRate) after the previous one;
 * AddRawH264FrameWithTime takes time in seconds, the first timed unit being the
 * origin, and refuses a time that does not increase. Presentation time equals
 * decoding time: streams with B-frames are stamped in decoding order.
 *
 * errorText: cleared by every export. Null-handle message: "Writer is null".
 */

/* Opens path (UTF-8) for pictures of width x height; frameRate in frames per
 * second times the untimed units. A name whose extension names no container
 * opens nothing and returns 0: every unit is then refused. Clears errorText.
 * Returns 0; 1 with "Path is null", "Invalid picture size", "Container does
 * not support H.264", or FFmpeg's text; 2 with "Unknown exception in
 * GRABBER_Init". The handle is written in every case. */
TARSEL_EXPORT int TARSEL_CALL MP4WRITER_Init(void** handle, const char* path, uint32_t width,
                                             uint32_t height, uint32_t frameRate, char* errorText);
/* Hands over the sequence and picture parameter sets (with or without start
 * codes; copied). Called again before the first unit it replaces them; after
 * it, the same sets are accepted and others refused. Returns 0; 1 with "Nr of
 * input bytes is smaller than 1" (a length below 1), "Input data is null",
 * "Parameter sets are too large" or "Parameter sets cannot change after the
 * first frame". Clears errorText. */
TARSEL_EXPORT int TARSEL_CALL MP4WRITER_AddSPSPPS(void* handle, const uint8_t* sps,
                                                  int32_t spsLength, const uint8_t* pps,
                                                  int32_t ppsLength, char* errorText);
/* Writes one access unit of length bytes, one frame after the previous unit.
 * Returns 0; 1 with "Nr of input bytes is smaller than 1" or "Could not write
 * data" (no parameter sets yet, no key frame yet, a NULL data, a file that
 * failed to open, or the container refused it). Clears errorText. */
TARSEL_EXPORT int TARSEL_CALL MP4WRITER_AddFrame(void* handle, const uint8_t* data, int32_t length,
                                                 char* errorText);
/* Writes one access unit at time seconds, measured from the first timed unit
 * and kept in 90 kHz ticks (truncated). Returns as MP4WRITER_AddFrame, with
 * "Could not write data" also for a time that is not finite or not later than
 * the previous unit's. Clears errorText. */
TARSEL_EXPORT int TARSEL_CALL MP4WRITER_AddRawH264FrameWithTime(void* handle, const uint8_t* data,
                                                                int32_t length, double time,
                                                                char* errorText);
/* Writes the trailer, closes the file, releases the writer and stores NULL in
 * *handle. Returns 0. */
TARSEL_EXPORT int TARSEL_CALL MP4WRITER_Clear(void** handle);

/* As MP4WRITER_Init, with the declared AAC stream. */
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_Init(void** handle, const char* path, uint32_t width,
                                            uint32_t height, uint32_t frameRate, char* errorText);
/* As MP4WRITER_AddSPSPPS. */
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddSPSPPS(void* handle, const uint8_t* sps,
                                                 int32_t spsLength, const uint8_t* pps,
                                                 int32_t ppsLength, char* errorText);
/* As MP4WRITER_AddFrame. */
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddFrame(void* handle, const uint8_t* data, int32_t length,
                                                char* errorText);
/* As MP4WRITER_AddRawH264FrameWithTime. */
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddRawH264FrameWithTime(void* handle, const uint8_t* data,
                                                               int32_t length, double time,
                                                               char* errorText);
/* Does nothing and returns 0; the audio stream stays empty (the same function
 * as MFAudioGrabber_GrabAudio). */
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddAudio(void);
/* As MP4WRITER_Clear. */
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_Clear(void** handle);

/* ================================================ DECODER_: H.264 packets
 *
 * H.264 packets in Annex-B form (parameter sets travel in the stream) decoded
 * one at a time, and the current picture copied out as packed BGR24. One
 * picture is taken per packet: a stream with B-frames hands its pictures out
 * later than their packets. Only Init has an errorText (cleared).
 */

/* Clears errorText. Returns 0; 1 with "Codec not found.", "Could not allocate
 * video codec context.", "Could not open codec." or "Could not allocate video
 * frame."; 2 with "Unknown exception in GRABBER_Init". */
TARSEL_EXPORT int TARSEL_CALL DECODER_Init(void** handle, char* errorText);
/* Decodes one packet of length bytes (copied) and writes the size of the
 * current picture to width and height (each may be NULL): 0 x 0 while no
 * picture has come out. Returns -1 for a NULL handle, a NULL data or
 * length < 1 (outputs untouched); 1 when the packet is refused (sizes -1, no
 * current picture); else 0. */
TARSEL_EXPORT int TARSEL_CALL DECODER_DecodeFrame(void* handle, const uint8_t* data, int32_t length,
                                                  int32_t* width, int32_t* height);
/* Converts the current picture to packed BGR24 (rows of 3 x width bytes, no
 * gaps) into destination, which must hold 3 x width x height bytes, or only
 * reports the size when destination is NULL; *size (may be NULL) receives the
 * byte count. Returns 0; -1 for a NULL handle, and with *size 0 when there is
 * no current picture or it cannot be converted. */
TARSEL_EXPORT int TARSEL_CALL DECODER_GetBitmapData(void* handle, uint8_t* destination,
                                                    uint32_t* size);
/* Releases the decoder and stores NULL in *handle. Returns 0. */
TARSEL_EXPORT int TARSEL_CALL DECODER_Clear(void** handle);

/* ======================= PixConverter_ / ConverterNV12_: pixel layouts
 *
 * One picture converted between layouts with bicubic scaling at the same size.
 * Layout codes: 1 BGR24, 2 BGRA, 3 NV12, 4 YUYV422, 5 RGB24, 6 GRAY8,
 * 7 YUV420P, 8 RGBA. Buffers hold one picture with its planes back to back and
 * rows without padding, as av_image_get_buffer_size(format, width, height, 1)
 * counts them: 3 x w x h (BGR24, RGB24), 4 x w x h (BGRA, RGBA), w x h (GRAY8),
 * w x h + 2 x ceil(w / 2) x ceil(h / 2) (NV12, YUV420P), 4 x ceil(w / 2) x h
 * (YUYV422). The caller sizes both. The ConverterNV12_ conversions work on a
 * PixConverter_ handle, at its size, whatever its codes.
 */

/* Makes a converter from sourceType to destinationType for width x height; a
 * width or height below 1 gives a converter that refuses every conversion.
 * Clears errorText. Returns 0; 1 with "pixel format type is not valid" (a code
 * outside 1..8) or "picture size is too large"; 2 with "Unknown exception in
 * PixConverter_Init". */
TARSEL_EXPORT int TARSEL_CALL PixConverter_Init(void** handle, uint32_t sourceType,
                                                uint32_t destinationType, int32_t width,
                                                int32_t height, char* errorText);
/* Converts one picture from source into destination. Clears errorText and
 * writes no message. Returns 0, or -1 for a NULL handle, a converter without a
 * valid size, a NULL buffer, or a failed conversion. */
TARSEL_EXPORT int TARSEL_CALL PixConverter_Convert(void* handle, const uint8_t* source,
                                                   uint8_t* destination, char* errorText);
/* Releases the converter and stores NULL in *handle. Returns 0 (the same
 * function as ConverterNV12_Clear). */
TARSEL_EXPORT int TARSEL_CALL PixConverter_Clear(void** handle);
/* Makes nothing and returns 1: NV12 converters are made with PixConverter_Init. */
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_Init(void);
/* BGR24 to NV12 at the converter's size. Returns 0, or -1 for a NULL handle, a
 * converter without a valid size, a NULL buffer or a failed conversion. */
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_ConvertBGR2NV12(void* handle, const uint8_t* source,
                                                            uint8_t* destination);
/* BGRA (the name's "BRGA" is historical) to NV12, as above. */
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_ConvertBRGA2NV12(void* handle, const uint8_t* source,
                                                             uint8_t* destination);
/* NV12 to BGR24, as above. */
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_ConvertNV122BGR(void* handle, const uint8_t* source,
                                                            uint8_t* destination);
/* The same function as PixConverter_Clear. */
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_Clear(void** handle);

/* ============================== MFCamGrabber_ / MFAudioGrabber_: capture
 *
 * Cameras and audio capture devices through Media Foundation. Init lists the
 * devices; OpenCamera / OpenDevice opens one by index and catalogues its native
 * formats (GetConfig reads them); StartGrabbing starts capture in a format.
 * Opened asynchronously, a device hands each frame or sample block to the ready
 * callback on a worker thread (SetFrameReadyCallBack / SetAudioReadyCallBack);
 * a camera opened synchronously is polled with MFCamGrabber_GrabFrame. Times
 * are in 100-ns units.
 *
 * On Windows the library loads Media Foundation at the first capture or encoder
 * Init: where it is absent (N editions without the Media Feature Pack, Server
 * Core) these Inits return 1 with the system's text for the missing DLL and the
 * rest of the library works. Elsewhere the same exports run on the library's
 * portable stand-in. On Linux it lists the V4L2 cameras (every /dev/video*
 * node that captures, named by its card) and the ALSA capture devices (named
 * by ALSA's description; libasound.so.2 is loaded on first use, and without it
 * there are no microphones); TARSEL_FAKE_DEVICES=1 in the environment adds
 * virtual test devices after them ("Tarsel Virtual Camera", "Tarsel Virtual
 * Microphone", ...). A V4L2 camera offers the driver's formats, sizes and
 * rates, and NV12 as well at the sizes it gives only as MJPEG (decoded by the
 * library). An ALSA device offers 16-bit PCM and 32-bit float, mono and
 * stereo, at 44,100 and 48,000 Hz, as far as it takes them, in 10 ms blocks.
 * A Linux camera that delivers no usable frame for ten seconds fails its read.
 *
 * Threads: one thread at a time per grabber, except that StopGrabbing and Clear
 * may run while a callback runs, on any thread, from inside the callback too.
 * Clear waits for a running callback (unless called from it): after Clear
 * returns nothing more reaches the caller. A block passed to a callback lives
 * only during the call; the callback must copy what it keeps. A failed read
 * ends delivery silently until the next StartGrabbing.
 *
 * errorText: cleared by Init, OpenCamera / OpenDevice, StartGrabbing, GrabFrame
 * and the camera control exports; not by GetConfig. Return code 2 comes with
 * "Unknown exception in WMFCamGrabber_Init" (MFCamGrabber_Init), "Unknown
 * exception in MFAudioGrabber_Init", "Unknown exception in
 * MFAudioGrabber_OpenDevice", or "Unknown exception in Brevant_Init" (the other
 * camera exports with an errorText, and MFAudioGrabber_StartGrabbing).
 * Null-handle messages: "Cam grabber not initialized" (camera exports, and
 * MFAudioGrabber_StartGrabbing), "Audiograbber not initialized"
 * (MFAudioGrabber_OpenDevice), "Audio grabber not initialized"
 * (MFAudioGrabber_GetConfig).
 */

/* Makes a camera grabber and lists the cameras; deviceCount (may be NULL)
 * receives their number. Clears errorText. Returns 0; 1 with "Error creating
 * video configuation." (sic), "Error initialising video configuration
 * object.", "Error enumerating video devices", or the system's text when Media
 * Foundation is missing; 2 as above. The handle is written only on success. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_Init(void** handle, uint32_t* deviceCount,
                                                char* errorText);
/* Copies min(name length, maxLength) bytes of camera index's name, narrowed to
 * one byte per UTF-16 unit (its low 8 bits), into name, WITHOUT a terminating
 * NUL, and that count to copiedLength (may be NULL). An index out of range or a
 * maxLength below 1 copies nothing. Returns 0; -1 for a NULL handle, or a NULL
 * name with bytes to copy. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetDeviceName(void* handle, int32_t index, char* name,
                                                         uint32_t* copiedLength, int32_t maxLength);
/* Opens camera deviceIndex (a camera opened before is closed first) and
 * catalogues its formats; formatCount (may be NULL) receives their number. An
 * index out of range does nothing and returns 0 (formatCount untouched).
 * asynchronous: frames go to the ready callback; otherwise they are polled.
 * Clears errorText. Returns 0; 1 with "Error activating video device", "Error
 * creating video source reader", "Error retrieving current media type from
 * first video stream" or "Error creating video configuation."; 2 as above. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_OpenCamera(void* handle, int32_t deviceIndex,
                                                      bool asynchronous, uint32_t* formatCount,
                                                      char* errorText);
/* Copies catalogue entry index into *config. An index out of range zeroes only
 * config's width, height and framesPerSecond and returns 0. Returns 1 with
 * "Config pointer is null" for a NULL config. Does not clear errorText. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetConfig(void* handle, int32_t index, CamConfig* config,
                                                     char* errorText);
/* Sets the capture format and starts grabbing; block numbers restart at 1.
 * pixelFormat: 0 NV12, 1 YUY2, 2 I420 (any other value NV12); width x height:
 * a size the camera offers; frameRate: frames per second, 0 or less leaving the
 * rate to the camera. A format the camera refuses leaves the previous one.
 * Clears errorText. Returns 0; 1 with "Video source not activated" or "Video
 * reader not activated" (no camera open), "Failed to set video grabber
 * MF_MT_SUBTYPE, MFVideoFormat_RGB24" (whatever the format), "Failed to set
 * video grabber attribute, frame size" or "Failed to set media type on source
 * reader"; 2 as above. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_StartGrabbing(void* handle, uint32_t width,
                                                         uint32_t height, int32_t frameRate,
                                                         int32_t pixelFormat, char* errorText);
/* Stops delivery: no further read is issued; a callback already running
 * finishes. Returns 0, or 1 for a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_StopGrabbing(void* handle);
/* Registers the ready callback of either grabber (the same function as
 * MFAudioGrabber_SetAudioReadyCallBack); NULL stops the handing over (blocks
 * are still read and counted). May be called at any time. Returns 0, or 1 for
 * a NULL handle. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_SetFrameReadyCallBack(void* handle,
                                                                 FrameReadyCallBack callback);
/* Waits for the next frame of a camera opened synchronously (on Linux at most
 * ten seconds without a usable frame) and copies it into frameBuffer. size:
 * in, frameBuffer's capacity in bytes; out, the frame's length. timestamp (may
 * be NULL): 100-ns units since the first frame the grabber handled. A gap in
 * the stream (no frame this time) writes nothing and returns 0. Clears
 * errorText. Returns 0; 1 with "Frame buffer or size pointer is null", "Buffer
 * is to small" (sic; nothing copied), "Error reading video sample" (also for a
 * camera opened asynchronously), "Video source not activated" or "Video reader
 * not activated" (no camera open), or a buffer failure
 * ("ConvertToContiguousBuffer failed", "Get buffer length failed", "Lock buffer
 * failed"); 2 as above. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GrabFrame(void* handle, uint8_t* frameBuffer,
                                                     uint32_t* size, int64_t* timestamp,
                                                     char* errorText);
/* Probe of the camera control interface: obtains it, or reads one control
 * through it; reports nothing. */
TARSEL_EXPORT void TARSEL_CALL MFCamGrabber_Test(void* handle);
/* Stops delivery, waits for a running callback, releases the grabber and
 * stores NULL in *handle. Returns 0. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_Clear(void** handle);

/* Camera controls (IAMCameraControl: 0 pan, 1 tilt, 2 roll, 3 zoom, 4 exposure,
 * 5 iris, 6 focus) and video properties (IAMVideoProcAmp: 0 brightness,
 * 1 contrast, 2 hue, 3 saturation, 4 sharpness, 5 gamma, 6 colour enable,
 * 7 white balance, 8 backlight compensation, 9 gain, 13 power-line frequency)
 * of the open camera. Values lie in the ranges the camera reports; on every
 * platform pan and tilt count degrees and exposure log2 seconds (-6: 1/64 s).
 * flags: 1 automatic, 2 manual. The first Get or Set of each of the two
 * interfaces only obtains it from the camera and returns 0 without reading or
 * setting: repeat the call. Get reports range, step, default, current flags and value
 * (each out-pointer may be NULL). All clear errorText and return 0; 1 with
 * "Video source not activated" (no camera open) or "Not supported" (the camera
 * lacks the interface or the property, or refuses the value); 2 as above. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetCamCtrl(void* handle, int32_t property,
                                                      int32_t* minimum, int32_t* maximum,
                                                      int32_t* steppingDelta, int32_t* defaultValue,
                                                      int32_t* flags, int32_t* value,
                                                      char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_SetCamCtrl(void* handle, int32_t property, int32_t flags,
                                                      int32_t value, char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetVideoProp(void* handle, int32_t property,
                                                        int32_t* minimum, int32_t* maximum,
                                                        int32_t* steppingDelta,
                                                        int32_t* defaultValue, int32_t* flags,
                                                        int32_t* value, char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_SetVideoProp(void* handle, int32_t property,
                                                        int32_t flags, int32_t value,
                                                        char* errorText);

/* Makes an audio grabber and lists the audio capture devices; deviceCount (may
 * be NULL) receives their number. Clears errorText. Returns 0; 1 with "Error
 * creating video configuation." (sic), "Error initialising video configuration
 * object.", "Error enumerating video devices", "Error getting device name.",
 * or the system's text when Media Foundation is missing; 2 as above. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_Init(void** handle, uint32_t* deviceCount,
                                                  char* errorText);
/* As MFCamGrabber_GetDeviceName, without the copied length: count the bytes up
 * to maxLength yourself. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_GetDeviceName(void* handle, int32_t index, char* name,
                                                           int32_t maxLength);
/* As MFCamGrabber_OpenCamera, for audio device deviceIndex. Blocks are handed
 * over only in asynchronous mode. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_OpenDevice(void* handle, int32_t deviceIndex,
                                                        bool asynchronous, uint32_t* formatCount,
                                                        char* errorText);
/* Copies catalogue entry index into *config. An index out of range zeroes only
 * the bit depth, channel count, rate and block alignment and returns 0. Returns
 * 1 with "Config pointer is null" for a NULL config. Does not clear errorText. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_GetConfig(void* handle, int32_t index,
                                                       AudioConfig* config, char* errorText);
/* Starts capture in catalogue entry formatIndex; block numbers restart at 1. A
 * PCM format arrives as captured, one block per captured sample; any other is
 * resampled to 16-bit stereo PCM at 44,100 Hz, in blocks of at most 705,600
 * bytes. Blocks arrive only from a device opened asynchronously. Clears
 * errorText. Returns 0; 1 with "Video source not activated" or "Video reader
 * not activated" (no device open), "format idx out of bounds", "Failed to set
 * video grabber MF_MT_SUBTYPE", "Failed to set MF_MT_AUDIO_BITS_PER_SAMPLE",
 * "Failed to set MF_MT_AUDIO_NUM_CHANNELS", "Failed to set
 * MF_MT_AUDIO_SAMPLES_PER_SECOND", "Failed to set
 * MF_MT_AUDIO_AVG_BYTES_PER_SECOND", "Failed to set MF_MT_AUDIO_BLOCK_ALIGNMENT",
 * "Failed to set media type on source reader", or, for a format to resample,
 * the resampler's set-up texts ("Failed to create resampler MFT.", "Failed to
 * set input media type on resampler MFT.", ...; no block is then delivered
 * until a start succeeds); 2 as above. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_StartGrabbing(void* handle, int32_t formatIndex,
                                                           char* errorText);
/* As MFCamGrabber_StopGrabbing. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_StopGrabbing(void* handle);
/* The same function as MFCamGrabber_SetFrameReadyCallBack. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_SetAudioReadyCallBack(void* handle,
                                                                   AudioReadyCallBack callback);
/* Does nothing and returns 0 (the same function as MP4Muxer_AddAudio). */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_GrabAudio(void);
/* As MFCamGrabber_Clear. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_Clear(void** handle);
/* Self-test: lists the audio devices, opens the first synchronously and lets
 * it go. Reports nothing; returns 0. */
TARSEL_EXPORT int TARSEL_CALL TestAudioStuff(void);

/* ===================================== MFEncoder_: H.264/AAC files
 *
 * NV12 pictures encoded to H.264, and optionally 16-bit PCM audio to AAC,
 * written into one file through a Media Foundation sink writer (on Windows the
 * system's encoders; elsewhere libx264 and FFmpeg's AAC encoder, into .mp4,
 * .m4v, .m4a, .3gp or .3g2). Times are in 100-ns units; the seconds variants
 * multiply by 10,000,000 and truncate toward zero.
 *
 * Init writes the handle before it opens the file: call MFEncoder_Clear after
 * every Init result (Init returns with the handle untouched only when it could
 * not make the encoder at all: Media Foundation missing, memory exhausted).
 * One lock serialises the writes, so pictures and audio may come from two
 * threads at once (for example from a camera's and a microphone's callbacks);
 * Init and Clear take no lock: end all writes before Clear. A step that Media
 * Foundation refuses gives 1 with the system's text for its HRESULT ("Unknown
 * error 0x..." when it has none); the encoder stays usable. errorText: cleared
 * by every export. Null-handle message: "WMFEncoder not initialized", also
 * given by an encoder whose Init failed.
 */

/* Opens url (zero-terminated UTF-16 path of the file; its extension names the
 * container) with the streams settings describes. With hasAudio,
 * settings->blockAlignment is set to bitsPerSample / 8 * numChannels. Clears
 * errorText. Returns 0; 1 with "URL pointer is null", "Settings pointer is
 * null", "Frame rate must be at least 1", "Frame size too large: width x height
 * x 4 must stay below 4 GiB", the HRESULT text of the failed step (an unknown
 * extension, a missing folder, settings the encoders cannot take), or the
 * system's text when Media Foundation is missing; 2 with "Unknown exception in
 * MFEncoder_Init". */
TARSEL_EXPORT int TARSEL_CALL MFEncoder_Init(void** handle, const tarsel_char16* url,
                                             EncoderSettings* settings, char* errorText);
/* One NV12 picture of the encoder's size: width x height luma bytes, then
 * width x height / 2 bytes of interleaved chroma, rows width bytes apart;
 * *byteCount (from width x height x 3 / 2 up to width x height x 4) bytes are
 * copied. timeSeconds is its presentation time. Returns 0; 1 with "Byte count
 * pointer is null", "Picture pointer is null", "Picture is shorter than an NV12
 * picture of width x height x 3 / 2 bytes", "Picture is longer than width x
 * height x 4 bytes", "Time in seconds is out of range" or the HRESULT text; 2
 * with "Unknown exception in MFEncoder_AddVideoFrame". */
TARSEL_EXPORT int TARSEL_CALL MFEncoder_AddVideoFrame(void* handle, const uint8_t* picture,
                                                      const uint32_t* byteCount, double timeSeconds,
                                                      char* errorText);
/* As MFEncoder_AddVideoFrame, with the time in 100-ns units. */
TARSEL_EXPORT int TARSEL_CALL MFEncoder_AddVideoFrame_Ticks(void* handle, const uint8_t* picture,
                                                            const uint32_t* byteCount, int64_t time,
                                                            char* errorText);
/* One block of interleaved PCM as the settings describe it (whole sample
 * frames), *byteCount bytes, copied; timeSeconds is its time. Returns 0; 1 with
 * "The encoder was opened without audio", "Byte count pointer is null", "Audio
 * sample pointer is null", "Time in seconds is out of range" or the HRESULT
 * text; 2 with "Unknown exception in MFEncoder_AddAudioSamples". */
TARSEL_EXPORT int TARSEL_CALL MFEncoder_AddAudioSamples(void* handle, const void* pcm,
                                                        const uint32_t* byteCount,
                                                        double timeSeconds, char* errorText);
/* Finishes the file, releases the encoder and stores NULL in *handle. Returns
 * 0. */
TARSEL_EXPORT int TARSEL_CALL MFEncoder_Clear(void** handle);

#ifdef __cplusplus
}
#endif

#endif /* TARSEL_H */
