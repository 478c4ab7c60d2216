// Inspection of the portable layer's process state, for tests.
#pragma once

namespace tarsel::platform {

// MFStartup calls not yet matched by MFShutdown.
int MediaFoundationStartups();
// CoInitializeEx calls of this thread not yet matched by CoUninitialize.
int ComInitializationsOnThisThread();

}  // namespace tarsel::platform
