// What this test process holds, for tests that check a library leaves nothing
// behind: open descriptors (Windows: handles) and threads.
#pragma once

namespace tarsel_test {

// -1 where the platform cannot tell.
int OpenDescriptors();
int RunningThreads();

}  // namespace tarsel_test
