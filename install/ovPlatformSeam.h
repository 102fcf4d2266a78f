// A seam for tests of the locked-file replacement: forces the answer of
// IsNtPlatform so that both families' paths can be exercised on one system.
#pragma once

// -1 asks the system again (the default); 0 or 1 forces IsNtPlatform's answer.
void OverrideNtPlatform(int answer);
