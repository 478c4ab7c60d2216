// The portable layer's process state: creatable classes, and start-up counts
// for tests.
#pragma once

#include "mediafoundation/platform/com_types.h"

namespace tarsel::platform {

// A class CoCreateInstance can make: its CLSID and a function creating an
// object of it and answering riid.
struct ComClass {
  const CLSID* clsid;
  HRESULT (*create)(REFIID riid, void** object);
};
// The layer's creatable class with this CLSID, or null.
const ComClass* FindComClass(REFCLSID clsid);
// The audio resampler transform (CLSID_CResamplerMediaObject).
HRESULT CreateResamplerObject(REFIID riid, void** object);

// MFStartup calls not yet matched by MFShutdown.
int MediaFoundationStartups();
// CoInitializeEx calls of this thread not yet matched by CoUninitialize.
int ComInitializationsOnThisThread();

}  // namespace tarsel::platform
