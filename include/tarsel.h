/*
 * Tarsel: a flat C interface to video and audio media.
 *
 * Conventions shared by every family:
 *  - An object is created by FAMILY_Init, which writes an opaque handle through
 *    its first parameter, used by the family's other exports, and released by
 *    FAMILY_Clear(&handle), which stores NULL back into the caller's variable
 *    (a second Clear is harmless).
 *  - errorText, where present, is a caller-owned buffer of TARSEL_ERROR_TEXT_SIZE
 *    bytes. The library writes at most 199 characters and a NUL, copied as plain
 *    text, and never keeps the pointer.
 *  - Return codes: 0 success; 1 an anticipated failure (errorText holds its
 *    message, or, where an export says so, stays untouched); 2 an unexpected
 *    failure inside an Init (errorText holds the export's fixed text).
 *  - A handle is used by one thread at a time. Buffers handed to an export are
 *    copied before it returns, except the blocks passed to the capture ready
 *    callbacks, which live only while the callback runs.
 *  - The library prints nothing. At the first Init it silences FFmpeg's own
 *    messages if the host left FFmpeg's log level at its default; a host that
 *    set a level keeps it. TARSEL_LOG=error|warning|info|verbose|debug|quiet in
 *    the environment sets FFmpeg's level instead, for diagnosis.
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
#define TARSEL_VERSION_MAJOR @PROJECT_VERSION_MAJOR@
#define TARSEL_VERSION_MINOR @PROJECT_VERSION_MINOR@
#define TARSEL_VERSION_PATCH @PROJECT_VERSION_PATCH@

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
  int32_t width;             /* output width (after the aspect correction) */
  int32_t height;            /* output height */
  int32_t frameCount;        /* frames the reader will deliver */
  int32_t reserved;          /* padding, left as the caller had it */
  double duration;           /* seconds */
  double frameRate;          /* frames per second */
  int64_t bitRate;           /* decoder context bit rate */
  int32_t gopSize;           /* decoder context gop size */
  int32_t codecId;           /* FFmpeg codec id number */
  int64_t startTimestamp;    /* first timestamp of the stream, stream ticks */
  int32_t timeBaseNum;       /* stream time base */
  int32_t timeBaseDen;
  int32_t realFrameRateNum;  /* stream r_frame_rate */
  int32_t realFrameRateDen;
  int32_t avgFrameRateNum;   /* stream avg_frame_rate */
  int32_t avgFrameRateDen;
  double streamDuration;     /* seconds, as the container states it */
  double lastPacketTime;     /* seconds, last video packet seen while opening */
  int64_t streamDurationTicks;
  int64_t streamFrameCount;  /* as the container states it */
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
  TarselGuid subtype;           /* MF_MT_SUBTYPE, e.g. MFVideoFormat_NV12 */
  uint32_t width;               /* 0 when the format has no frame size */
  uint32_t height;
  uint32_t frameRateNumerator;  /* maximum of the frame-rate range; 0 when none */
  uint32_t frameRateDenominator;
  double framesPerSecond;       /* numerator / denominator (NaN for 0/0) */
} CamConfig;

/* One capture format of an audio device (MFAudioGrabber_GetConfig). 40 bytes. */
typedef struct AudioConfig {
  TarselGuid subtype;  /* MF_MT_SUBTYPE, e.g. MFAudioFormat_PCM */
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
  uint32_t frameRate;        /* whole frames per second, at least 1 */
  uint32_t bitRateKbps;      /* average video bit rate in units of 1024 bit/s */
  uint32_t profile;          /* MF_MT_MPEG2_PROFILE value, passed through */
  uint32_t level;            /* MF_MT_MPEG2_LEVEL value, passed through */
  uint32_t hasAudio;         /* nonzero: add an AAC stream */
  uint32_t numChannels;      /* audio fields are read only with hasAudio */
  uint32_t samplesPerSecond;
  uint32_t bitsPerSample;
  uint32_t reserved;         /* not read */
  uint32_t blockAlignment;   /* in/out: set to bitsPerSample / 8 * numChannels */
  uint8_t zeroDuration;      /* nonzero: video samples get duration 0 */
  uint8_t padding[3];
  uint32_t rateControlMode;  /* CODECAPI_AVEncCommonRateControlMode; 3 = quality */
  uint32_t quality;          /* used only in mode 3 */
  uint32_t minQP;            /* used only in mode 3 */
} EncoderSettings;

/* ---------------------------------------------------------------- callbacks */

/* Returns nonzero to abort a blocking FFmpeg operation of VIDEO_Init's reader. */
typedef int (*VideoInterruptCallBack)(void* opaque);

/* Called on a capture worker thread for every block: the block number (1 for
 * the first block after StartGrabbing), the source's timestamp in 100-ns
 * units, the byte count, and the block, valid only during the call. */
typedef void(TARSEL_CALL* FrameReadyCallBack)(uint32_t blockNumber, int64_t timestamp,
                                              uint32_t byteCount, uint8_t* block);
typedef void(TARSEL_CALL* AudioReadyCallBack)(uint32_t blockNumber, int64_t timestamp,
                                              uint32_t byteCount, uint8_t* block);

/* ------------------------------------------------------- VIDEO_: video reader */
/* Null-handle message of every VIDEO_ operation: "Video grabber not inititialized". */

/* Opens a file or stream address. live: forward-only reading (RTSP over UDP, or TCP
 * for an address starting "xxrt"; an address ending in "cgi" is read as MJPEG).
 * applyAspect: stretch the output width by the sample aspect ratio. sequential:
 * deliver pictures in decoder order and trust the container's frame count.
 * interruptCallback may be NULL. On failure the handle is left untouched.
 *
 * Frame indices. Outside sequential and live mode, index k stands for the time
 * k / frameRate from the stream's first picture: the reader resamples the
 * stream to a constant rate. A regular stream is numbered at its own rate, one
 * picture per index. Where pictures lie on a finer grid than the average rate
 * (frames dropped or cut out, variable rate), they are numbered on that grid;
 * an index without a picture of its own gets the next picture (the last picture
 * serves every index after it). Reading indices 0 to frameCount - 1 in turn
 * delivers every picture at least once. At a rate set with VIDEO_SetFrameRate,
 * index k is the first picture at or after k / rate. In sequential mode every
 * picture is delivered once, in order, whatever its time. Pictures are
 * converted to BGR24 with the stream's own YUV matrix and range.
 *
 * Network inputs (anything but a local file):
 * - "xxrtsp://host/path" is "rtsp://host/path" over TCP; "rtsp://" stays on UDP.
 * - Waits are bounded. Opening (connecting, reading the stream's description)
 *   may take TARSEL_OPEN_TIMEOUT_MS milliseconds and each read may wait
 *   TARSEL_READ_TIMEOUT_MS for data (30000 each by default, 0 for no limit; read
 *   from the environment by each VIDEO_Init). A timed-out open returns 1 with
 *   "Connection timed out". The interrupt callback is asked first all along (it
 *   receives itself as its argument); returning nonzero ends the wait. It is how
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
 * - Live mode reads forward: VIDEO_getFrameWithIndex reads on to a later index
 *   and returns 1 for one already passed; time requests return 1.
 * - A file served without byte ranges is read again from its start (a new
 *   connection) to go back; one whose pictures come before the index it ends
 *   with fails to open with "Could not return to the start of the input".
 * - VidInfo reports 0 for what a stream does not have (a live stream's length). */
TARSEL_EXPORT int TARSEL_CALL VIDEO_Init(void** handle, const char* path, uint8_t live,
                                         uint8_t applyAspect,
                                         VideoInterruptCallBack interruptCallback,
                                         uint8_t sequential, char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDEO_getVideoInfo(void* handle, int32_t* width, int32_t* height,
                                                 int32_t* frameCount, double* duration,
                                                 double* frameRate, char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDEO_getVidInfoStruct(void* handle, VidInfo* info,
                                                     char* errorText);
/* Always reports 0: the reader does not examine audio. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_getAudioInfo(void* handle, uint32_t* audioInfo,
                                                 char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDEO_Clear(void** handle);

/* Picture exports: BGR24, height rows of 3 * width bytes at pixels + k * stride
 * (stride may be negative for a bottom-up picture; |stride| >= 3 * width). A NULL
 * pixels decodes without copying. Return 0 with a picture, 1 without one (end of
 * input, out of range, undecodable); errorText is written only for a null handle. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_getNextFrame(void* handle, uint8_t* pixels, int32_t stride,
                                                 uint32_t* frameIndex, double* frameTime,
                                                 double* frameTimeAgain, char* errorText);
/* The first picture at or after time seconds; needs a VIDEO_getVideoInfo or
 * VIDEO_getVidInfoStruct call first (before it every time is refused). */
TARSEL_EXPORT int TARSEL_CALL VIDEO_getFrameWithTimeStamp(void* handle, uint8_t* pixels,
                                                          int32_t stride, double time,
                                                          uint32_t* frameIndex,
                                                          double* frameTime,
                                                          double* frameTimeAgain,
                                                          char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDEO_getFrameWithIndex(void* handle, uint8_t* pixels,
                                                      int32_t stride, int32_t index,
                                                      uint32_t* frameIndex, double* frameTime,
                                                      double* frameTimeAgain, char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDEO_Rewind(void* handle, char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDEO_SkipFrames(void* handle, int32_t count, char* errorText);
/* Decodes the whole stream from the start; leaves the reader at its end. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_ReadAllFrames(void* handle, uint32_t* count,
                                                  int64_t* firstPts, int64_t* lastPts,
                                                  uint32_t* timeBaseNum, uint32_t* timeBaseDen,
                                                  char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDEO_SetFrameRate(void* handle, double frameRate,
                                                 char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDEO_TEST(void* handle, char* errorText);

/* ------------------------------------------------------- AUDIO_: audio reader */
/* Null-handle message: "Audio grabber not inititialized". Blocks are interleaved
 * signed 16-bit PCM at the stream's own rate and channel count. */

TARSEL_EXPORT int TARSEL_CALL AUDIO_Init(void** handle, const char* path, int32_t* streamIndex,
                                         char* errorText);
/* codecName: a 200-byte buffer for the decoder's long name. */
TARSEL_EXPORT int TARSEL_CALL AUDIO_GetAudioInfo(void* handle, int32_t* hasAudio,
                                                 int32_t* channels, int32_t* sampleRate,
                                                 int32_t* bufferSize, double* duration,
                                                 char* codecName, char* errorText);
/* samples: at least bufferSize bytes. Returns 0 with a block, 1 at the end. */
TARSEL_EXPORT int TARSEL_CALL AUDIO_GetNewAudioSamples(void* handle, uint8_t* samples,
                                                       int32_t* sampleCount,
                                                       int32_t* byteCount, double* time,
                                                       char* errorText);
/* time: in, seconds; out, the time reached, or -1.0 when the jump was refused. */
TARSEL_EXPORT int TARSEL_CALL AUDIO_JumpToTimeStamp(void* handle, double* time,
                                                    char* errorText);
TARSEL_EXPORT int TARSEL_CALL AUDIO_Clear(void** handle);

/* ------------------------------------------------ AACDECODER_: AAC packets */

TARSEL_EXPORT int TARSEL_CALL AACDECODER_Init(void** handle, int32_t channels,
                                              int32_t inSampleRate, int32_t outSampleRate,
                                              char* errorText);
/* Returns -1 for a null handle or size < 1, 1 when the packet is refused, else 0
 * with the samples per channel the packet yields at the output rate. */
TARSEL_EXPORT int TARSEL_CALL AACDECODER_DecodePacket(void* handle, const uint8_t* data,
                                                      int32_t size, int32_t* outSamples);
/* Copies up to size bytes (at most 192000) of the decoded block. Returns -1 for a
 * null handle, otherwise 1. */
TARSEL_EXPORT int TARSEL_CALL AACDECODER_GetDecodedData(void* handle, uint8_t* pcm,
                                                        int32_t size);
TARSEL_EXPORT int TARSEL_CALL AACDECODER_Clear(void** handle);

/* ------------------------------------------- LLWRITER_: FFV1 video writer */
/* Null-handle message: "Video writer not inititialized". */

TARSEL_EXPORT int TARSEL_CALL LLWRITER_Init(void** handle, const char* path, int32_t width,
                                            int32_t height, double frameRate,
                                            char* errorText);
/* One BGR24 picture, rows stride bytes apart; time is not used. */
TARSEL_EXPORT int TARSEL_CALL LLWRITER_WriteFrame(void* handle, const uint8_t* pixels,
                                                  int32_t stride, double time,
                                                  char* errorText);
TARSEL_EXPORT int TARSEL_CALL LLWRITER_Clear(void** handle);
/* Writes an empty 640x480 15 fps file. Returns 0 on success, 1 otherwise. */
TARSEL_EXPORT int TARSEL_CALL VIDEO_TESTWriter(const char* path);

/* ------------------------------------- VIDWRITER_: timed audio/video writer */

/* formatName: a container short name, or "" to choose by the path. */
TARSEL_EXPORT int TARSEL_CALL VIDWRITER_Init(void** handle, const char* path, int32_t width,
                                             int32_t height, uint8_t withAudio,
                                             const char* formatName, int32_t bitRate,
                                             int32_t frameRate, int32_t gopSize,
                                             char* errorText);
/* Repeats or drops the picture so the frame count keeps up with time (seconds);
 * a negative time writes exactly one frame. */
TARSEL_EXPORT int TARSEL_CALL VIDWRITER_WriteFrame(void* handle, const uint8_t* pixels,
                                                   int32_t stride, double time,
                                                   char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDWRITER_GetVideoInfo(void* handle, uint32_t* encodedBytes,
                                                     uint32_t* frameCount, char* errorText);
TARSEL_EXPORT int TARSEL_CALL VIDWRITER_Clear(void** handle);

/* ------------------------------- MP4WRITER_ / MP4Muxer_: pre-encoded H.264 */
/* Init writes the handle before opening: clear it after every Init result.
 * Access units are Annex-B with a 4-byte start code; a unit whose fifth byte is
 * 0x65 is a key frame; nothing is written before the first key frame. */

TARSEL_EXPORT int TARSEL_CALL MP4WRITER_Init(void** handle, const char* path, uint32_t width,
                                             uint32_t height, uint32_t frameRate,
                                             char* errorText);
TARSEL_EXPORT int TARSEL_CALL MP4WRITER_AddSPSPPS(void* handle, const uint8_t* sps,
                                                  int32_t spsLength, const uint8_t* pps,
                                                  int32_t ppsLength, char* errorText);
TARSEL_EXPORT int TARSEL_CALL MP4WRITER_AddFrame(void* handle, const uint8_t* data,
                                                 int32_t length, char* errorText);
/* time: seconds; the first timed frame is the origin of the 90 kHz dts. */
TARSEL_EXPORT int TARSEL_CALL MP4WRITER_AddRawH264FrameWithTime(void* handle,
                                                                const uint8_t* data,
                                                                int32_t length, double time,
                                                                char* errorText);
TARSEL_EXPORT int TARSEL_CALL MP4WRITER_Clear(void** handle);

/* The MP4 writer with a declared (empty) AAC mono 16 kHz stream. */
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_Init(void** handle, const char* path, uint32_t width,
                                            uint32_t height, uint32_t frameRate,
                                            char* errorText);
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddSPSPPS(void* handle, const uint8_t* sps,
                                                 int32_t spsLength, const uint8_t* pps,
                                                 int32_t ppsLength, char* errorText);
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddFrame(void* handle, const uint8_t* data,
                                                int32_t length, char* errorText);
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddRawH264FrameWithTime(void* handle,
                                                               const uint8_t* data,
                                                               int32_t length, double time,
                                                               char* errorText);
/* Does nothing and returns 0 (the same function as MFAudioGrabber_GrabAudio). */
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_AddAudio(void);
TARSEL_EXPORT int TARSEL_CALL MP4Muxer_Clear(void** handle);

/* ------------------------------------------- DECODER_: H.264 packet decoder */

TARSEL_EXPORT int TARSEL_CALL DECODER_Init(void** handle, char* errorText);
/* Returns -1 for a null handle or length < 1 (outputs untouched), 1 when the packet
 * is refused (sizes -1), else 0 with the size of the current picture (0x0: none). */
TARSEL_EXPORT int TARSEL_CALL DECODER_DecodeFrame(void* handle, const uint8_t* data,
                                                  int32_t length, int32_t* width,
                                                  int32_t* height);
/* Copies the current picture as packed BGR24 into destination (may be NULL) and
 * writes its byte count to size. Returns 0, or -1 (null handle, no picture). */
TARSEL_EXPORT int TARSEL_CALL DECODER_GetBitmapData(void* handle, uint8_t* destination,
                                                    uint32_t* size);
TARSEL_EXPORT int TARSEL_CALL DECODER_Clear(void** handle);

/* ------------------------------ PixConverter_ / ConverterNV12_: pixel layouts */
/* Layout codes: 1 BGR24, 2 BGRA, 3 NV12, 4 YUYV422, 5 RGB24, 6 GRAY8, 7 YUV420P,
 * 8 RGBA; planes follow each other without gaps, chroma sizes rounded up. */

TARSEL_EXPORT int TARSEL_CALL PixConverter_Init(void** handle, uint32_t sourceType,
                                                uint32_t destinationType, int32_t width,
                                                int32_t height, char* errorText);
/* Returns 0, or -1 for a null handle or a converter without a valid size. */
TARSEL_EXPORT int TARSEL_CALL PixConverter_Convert(void* handle, const uint8_t* source,
                                                   uint8_t* destination, char* errorText);
TARSEL_EXPORT int TARSEL_CALL PixConverter_Clear(void** handle);
/* Creates nothing and returns 1. */
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_Init(void);
/* On a PixConverter_ handle, at its width and height: return 0, or -1 without a
 * valid size. */
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_ConvertBGR2NV12(void* handle, const uint8_t* source,
                                                            uint8_t* destination);
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_ConvertBRGA2NV12(void* handle,
                                                             const uint8_t* source,
                                                             uint8_t* destination);
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_ConvertNV122BGR(void* handle, const uint8_t* source,
                                                            uint8_t* destination);
/* The same function as PixConverter_Clear. */
TARSEL_EXPORT int TARSEL_CALL ConverterNV12_Clear(void** handle);

/* ---------------------------------------------- MFCamGrabber_: cameras */

TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_Init(void** handle, uint32_t* deviceCount,
                                                char* errorText);
/* Copies min(length, maxLength) bytes of the narrowed name, without a terminator.
 * Returns -1 for a null handle, else 0. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetDeviceName(void* handle, int32_t index,
                                                         char* name, uint32_t* copiedLength,
                                                         int32_t maxLength);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_OpenCamera(void* handle, int32_t deviceIndex,
                                                      bool asynchronous,
                                                      uint32_t* formatCount, char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetConfig(void* handle, int32_t index,
                                                     CamConfig* config, char* errorText);
/* pixelFormat: 0 NV12, 1 YUY2, 2 I420 (others NV12); frameRate <= 0 keeps the
 * camera's rate. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_StartGrabbing(void* handle, uint32_t width,
                                                         uint32_t height, int32_t frameRate,
                                                         int32_t pixelFormat,
                                                         char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_StopGrabbing(void* handle);
/* The same function as MFAudioGrabber_SetAudioReadyCallBack. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_SetFrameReadyCallBack(void* handle,
                                                                 FrameReadyCallBack callback);
/* size: in, capacity of frameBuffer; out, bytes written. timestamp: 100-ns units
 * from the first frame the grabber handled. */
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GrabFrame(void* handle, uint8_t* frameBuffer,
                                                     uint32_t* size, int64_t* timestamp,
                                                     char* errorText);
TARSEL_EXPORT void TARSEL_CALL MFCamGrabber_Test(void* handle);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_Clear(void** handle);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetCamCtrl(void* handle, int32_t property,
                                                      int32_t* minimum, int32_t* maximum,
                                                      int32_t* steppingDelta,
                                                      int32_t* defaultValue, int32_t* flags,
                                                      int32_t* value, char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_SetCamCtrl(void* handle, int32_t property,
                                                      int32_t flags, int32_t value,
                                                      char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetVideoProp(void* handle, int32_t property,
                                                        int32_t* minimum, int32_t* maximum,
                                                        int32_t* steppingDelta,
                                                        int32_t* defaultValue, int32_t* flags,
                                                        int32_t* value, char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_SetVideoProp(void* handle, int32_t property,
                                                        int32_t flags, int32_t value,
                                                        char* errorText);

/* ------------------------------------------- MFAudioGrabber_: microphones */

TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_Init(void** handle, uint32_t* deviceCount,
                                                  char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_GetDeviceName(void* handle, int32_t index,
                                                           char* name, int32_t maxLength);
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_OpenDevice(void* handle, int32_t deviceIndex,
                                                        bool asynchronous,
                                                        uint32_t* formatCount,
                                                        char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_GetConfig(void* handle, int32_t index,
                                                       AudioConfig* config, char* errorText);
/* A PCM format arrives as captured, one block per captured sample; any other is
 * resampled to 16-bit stereo PCM at 44,100 Hz, in blocks of at most 705,600
 * bytes. Blocks arrive only from a device opened asynchronously. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_StartGrabbing(void* handle, int32_t formatIndex,
                                                           char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_StopGrabbing(void* handle);
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_SetAudioReadyCallBack(void* handle,
                                                                   AudioReadyCallBack callback);
/* Does nothing and returns 0. */
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_GrabAudio(void);
TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_Clear(void** handle);
TARSEL_EXPORT int TARSEL_CALL TestAudioStuff(void);

/* ------------------------------------------------ MFEncoder_: H.264/AAC files */
/* Init writes the handle before opening: clear it after every Init result.
 * url: UTF-16 path of the file, whose extension names the container (.mp4,
 * .m4v, .m4a, .3gp, .3g2 outside Windows). With hasAudio, blockAlignment is
 * set to bitsPerSample / 8 * numChannels. Returns 0; 1 with the platform's text
 * for a failed step (an unknown extension, a missing folder, settings the
 * encoders cannot take) or a refusal of the settings; 2 on an unexpected
 * failure. The Add exports may be called from two threads at once (one for
 * pictures, one for audio); a half-open or null encoder refuses them with
 * "WMFEncoder not initialized". */
TARSEL_EXPORT int TARSEL_CALL MFEncoder_Init(void** handle, const tarsel_char16* url,
                                             EncoderSettings* settings, char* errorText);
/* One NV12 picture (luma rows, then interleaved chroma rows, width bytes each)
 * of byteCount bytes, from width * height * 3 / 2 up to width * height * 4;
 * time in seconds or in 100-ns ticks. */
TARSEL_EXPORT int TARSEL_CALL MFEncoder_AddVideoFrame(void* handle, const uint8_t* picture,
                                                      const uint32_t* byteCount,
                                                      double timeSeconds, char* errorText);
TARSEL_EXPORT int TARSEL_CALL MFEncoder_AddVideoFrame_Ticks(void* handle,
                                                            const uint8_t* picture,
                                                            const uint32_t* byteCount,
                                                            int64_t time, char* errorText);
/* Interleaved PCM as the settings describe it; refused by an encoder opened
 * without audio. */
TARSEL_EXPORT int TARSEL_CALL MFEncoder_AddAudioSamples(void* handle, const void* pcm,
                                                        const uint32_t* byteCount,
                                                        double timeSeconds, char* errorText);
/* Finishes the file and releases the encoder. */
TARSEL_EXPORT int TARSEL_CALL MFEncoder_Clear(void** handle);

#ifdef __cplusplus
}
#endif

#endif /* TARSEL_H */
