/* Writes a short FFV1 video of a moving colour pattern.
 *
 *   write_ffv1 OUTPUT.mkv [FRAMES]
 *
 * The container follows the file name (.mkv, .avi, .nut, ...). */
#include <stdio.h>
#include <stdlib.h>

#include "tarsel.h"

enum { kWidth = 320, kHeight = 240 };

/* Picture n: diagonal bands that move one pixel a frame, in BGR24 order. */
static void draw(uint8_t* bgr, int n) {
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* pixel = bgr + 3 * (y * kWidth + x);
      pixel[0] = (uint8_t)(x + n);     /* blue */
      pixel[1] = (uint8_t)(y * 2);     /* green */
      pixel[2] = (uint8_t)(x + y - n); /* red */
    }
  }
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s OUTPUT.mkv [FRAMES]\n", argv[0]);
    return 2;
  }
  const int frames = argc > 2 ? atoi(argv[2]) : 50;
  const double frameRate = 25.0;
  char errorText[TARSEL_ERROR_TEXT_SIZE];
  void* writer = NULL;
  if (LLWRITER_Init(&writer, argv[1], kWidth, kHeight, frameRate, errorText) != 0) {
    fprintf(stderr, "%s: %s\n", argv[1], errorText);
    return 1;
  }
  uint8_t* bgr = malloc(3 * kWidth * kHeight);
  int status = bgr ? 0 : 1;
  for (int n = 0; n < frames && status == 0; ++n) {
    draw(bgr, n);
    if (LLWRITER_WriteFrame(writer, bgr, 3 * kWidth, n / frameRate, errorText) != 0) {
      fprintf(stderr, "frame %d: %s\n", n, errorText);
      status = 1;
    }
  }
  free(bgr);
  LLWRITER_Clear(&writer); /* writes the file's trailer and closes it */
  if (status == 0) printf("%d frames of %dx%d -> %s\n", frames, kWidth, kHeight, argv[1]);
  return status;
}
