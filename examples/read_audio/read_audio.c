/* Decodes the audio of a media file into a 16-bit PCM WAV file.
 *
 *   read_audio MEDIA_FILE OUTPUT.wav */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tarsel.h"

static void put_le(FILE* file, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) fputc((int)((value >> (8 * i)) & 0xFF), file);
}

/* The 44-byte header of a PCM WAV file holding dataBytes of samples. */
static void write_wav_header(FILE* file, int channels, int sampleRate, uint32_t dataBytes) {
  fwrite("RIFF", 1, 4, file);
  put_le(file, 36 + dataBytes, 4);
  fwrite("WAVEfmt ", 1, 8, file);
  put_le(file, 16, 4); /* size of the format block */
  put_le(file, 1, 2);  /* PCM */
  put_le(file, (uint32_t)channels, 2);
  put_le(file, (uint32_t)sampleRate, 4);
  put_le(file, (uint32_t)(sampleRate * channels * 2), 4);
  put_le(file, (uint32_t)(channels * 2), 2);
  put_le(file, 16, 2); /* bits per sample */
  fwrite("data", 1, 4, file);
  put_le(file, dataBytes, 4);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s MEDIA_FILE OUTPUT.wav\n", argv[0]);
    return 2;
  }
  char errorText[TARSEL_ERROR_TEXT_SIZE];
  void* reader = NULL;
  int32_t streamIndex = -1;
  if (AUDIO_Init(&reader, argv[1], &streamIndex, errorText) != 0) {
    fprintf(stderr, "%s: %s\n", argv[1], errorText);
    return 1;
  }
  int32_t hasAudio = 0, channels = 0, sampleRate = 0, bufferSize = 0;
  double duration = 0.0;
  char codecName[TARSEL_ERROR_TEXT_SIZE]; /* the decoder's name: a 200-byte buffer */
  if (AUDIO_GetAudioInfo(reader, &hasAudio, &channels, &sampleRate, &bufferSize, &duration,
                         codecName, errorText) != 0) {
    fprintf(stderr, "%s: %s\n", argv[1], errorText);
    AUDIO_Clear(&reader);
    return 1;
  }
  printf("%s: %d channels, %d Hz, %.3f s\n", codecName, channels, sampleRate, duration);

  FILE* wav = fopen(argv[2], "wb");
  /* The caller sizes the sample buffer with the bufferSize reported above. */
  uint8_t* samples = malloc((size_t)bufferSize);
  if (!wav || !samples) {
    fprintf(stderr, "cannot write %s\n", argv[2]);
    if (wav) fclose(wav);
    free(samples);
    AUDIO_Clear(&reader);
    return 1;
  }
  write_wav_header(wav, channels, sampleRate, 0);
  uint32_t dataBytes = 0;
  int32_t sampleCount = 0, byteCount = 0;
  double time = 0.0;
  /* Each block is interleaved signed 16-bit PCM; sampleCount counts per channel. */
  while (AUDIO_GetNewAudioSamples(reader, samples, &sampleCount, &byteCount, &time, errorText) ==
         0) {
    if (byteCount > bufferSize) continue; /* reported, but too large to be copied */
    fwrite(samples, 1, (size_t)byteCount, wav);
    dataBytes += (uint32_t)byteCount;
  }
  rewind(wav);
  write_wav_header(wav, channels, sampleRate, dataBytes);
  fclose(wav);
  free(samples);
  AUDIO_Clear(&reader);
  printf("%u bytes of samples -> %s\n", dataBytes, argv[2]);
  return 0;
}
