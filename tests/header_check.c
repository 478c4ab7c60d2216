/* The public header compiles alone as C. */
#include "tarsel.h"

_Static_assert(sizeof(VidInfo) == 112, "VidInfo is 112 bytes");
_Static_assert(sizeof(CamConfig) == 40, "CamConfig is 40 bytes");
_Static_assert(sizeof(AudioConfig) == 40, "AudioConfig is 40 bytes");
_Static_assert(sizeof(EncoderSettings) == 64, "EncoderSettings is 64 bytes");
