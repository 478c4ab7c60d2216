/* Reads a video file and writes its first pictures as PPM images.
 *
 *   read_frames VIDEO OUTPUT_FOLDER [COUNT]
 *
 * writes OUTPUT_FOLDER/frame_0000.ppm, frame_0001.ppm, ... for the first COUNT
 * pictures (default 10), and prints the size, frame count and rate. */
#include <stdio.h>
#include <stdlib.h>

#include "tarsel.h"

/* A PPM holds RGB; the reader delivers BGR24, so each pixel is turned round. */
static int write_ppm(const char* path, const uint8_t* bgr, int width, int height) {
  FILE* file = fopen(path, "wb");
  if (!file) return 0;
  fprintf(file, "P6\n%d %d\n255\n", width, height);
  for (long i = 0; i < (long)width * height; ++i) {
    const uint8_t rgb[3] = {bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]};
    fwrite(rgb, 1, 3, file);
  }
  return fclose(file) == 0;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s VIDEO OUTPUT_FOLDER [COUNT]\n", argv[0]);
    return 2;
  }
  const long wanted = argc > 3 ? atol(argv[3]) : 10;
  char errorText[TARSEL_ERROR_TEXT_SIZE];
  void* reader = NULL;

  if (VIDEO_Init(&reader, argv[1], 0, 0, NULL, 0, errorText) != 0) {
    fprintf(stderr, "%s: %s\n", argv[1], errorText);
    return 1;
  }
  int32_t width = 0, height = 0, frameCount = 0;
  double duration = 0.0, frameRate = 0.0;
  if (VIDEO_getVideoInfo(reader, &width, &height, &frameCount, &duration, &frameRate, errorText) !=
      0) {
    fprintf(stderr, "%s: %s\n", argv[1], errorText);
    VIDEO_Clear(&reader);
    return 1;
  }
  printf("%dx%d, %d frames, %.3f fps, %.3f s\n", width, height, frameCount, frameRate, duration);

  /* The caller sizes the picture buffer: rows of 3 * width bytes. */
  const int32_t stride = 3 * width;
  uint8_t* pixels = malloc((size_t)stride * height);
  long written = 0;
  uint32_t index = 0;
  double time = 0.0, timeAgain = 0.0;
  while (pixels && written < wanted &&
         VIDEO_getNextFrame(reader, pixels, stride, &index, &time, &timeAgain, errorText) == 0) {
    char path[4096];
    snprintf(path, sizeof path, "%s/frame_%04ld.ppm", argv[2], written);
    if (!write_ppm(path, pixels, width, height)) {
      fprintf(stderr, "cannot write %s\n", path);
      break;
    }
    printf("frame %u at %.3f s -> %s\n", index, time, path);
    ++written;
  }
  free(pixels);
  VIDEO_Clear(&reader); /* also sets reader to NULL */
  return written > 0 ? 0 : 1;
}
