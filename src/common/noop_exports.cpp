// The one export shared by the MP4 muxer and the audio grabber: a stub that
// reads nothing and returns 0, exported under both names.
#include "common/boundary.h"
#include "tarsel.h"

extern "C" TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_GrabAudio(void) { return 0; }

TARSEL_EXPORT_ALIAS(int, MP4Muxer_AddAudio, MFAudioGrabber_GrabAudio, (void));
