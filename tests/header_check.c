/* The public header compiles alone as C, and the records that cross the
   boundary keep their sizes and field offsets. */
#include <stddef.h>

#include "tarsel.h"

#define AT(record, field, offset) \
  _Static_assert(offsetof(record, field) == (offset), #record "." #field " at " #offset)

_Static_assert(sizeof(VidInfo) == 112, "VidInfo is 112 bytes");
AT(VidInfo, width, 0);
AT(VidInfo, height, 4);
AT(VidInfo, frameCount, 8);
AT(VidInfo, duration, 16);
AT(VidInfo, frameRate, 24);
AT(VidInfo, bitRate, 32);
AT(VidInfo, gopSize, 40);
AT(VidInfo, codecId, 44);
AT(VidInfo, startTimestamp, 48);
AT(VidInfo, timeBaseNum, 56);
AT(VidInfo, timeBaseDen, 60);
AT(VidInfo, realFrameRateNum, 64);
AT(VidInfo, realFrameRateDen, 68);
AT(VidInfo, avgFrameRateNum, 72);
AT(VidInfo, avgFrameRateDen, 76);
AT(VidInfo, streamDuration, 80);
AT(VidInfo, lastPacketTime, 88);
AT(VidInfo, streamDurationTicks, 96);
AT(VidInfo, streamFrameCount, 104);

_Static_assert(sizeof(CamConfig) == 40, "CamConfig is 40 bytes");
AT(CamConfig, subtype, 0);
AT(CamConfig, width, 16);
AT(CamConfig, height, 20);
AT(CamConfig, frameRateNumerator, 24);
AT(CamConfig, frameRateDenominator, 28);
AT(CamConfig, framesPerSecond, 32);

_Static_assert(sizeof(AudioConfig) == 40, "AudioConfig is 40 bytes");
AT(AudioConfig, subtype, 0);
AT(AudioConfig, bitsPerSample, 16);
AT(AudioConfig, numChannels, 20);
AT(AudioConfig, samplesPerSecond, 24);
AT(AudioConfig, blockAlignment, 28);
AT(AudioConfig, avgBytesPerSecond, 32);
AT(AudioConfig, allSamplesIndependent, 36);

_Static_assert(sizeof(EncoderSettings) == 64, "EncoderSettings is 64 bytes");
AT(EncoderSettings, frameRate, 8);
AT(EncoderSettings, hasAudio, 24);
AT(EncoderSettings, reserved, 40);
AT(EncoderSettings, blockAlignment, 44);
AT(EncoderSettings, zeroDuration, 48);
AT(EncoderSettings, rateControlMode, 52);
AT(EncoderSettings, quality, 56);
AT(EncoderSettings, minQP, 60);
