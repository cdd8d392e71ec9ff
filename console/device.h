// Console commands besides the version query: reboot, wait for the prompt,
// factory defaults. All run on the download worker and write to the port
// without reading the console's answers, except IsSysUpAndRunning.
#pragma once
#include <cstdint>

// " " then the reboot command three times, with the fixed pauses.
void RebootExpander();
// Waits up to `timeout` whole seconds (then ten re-prompts) for a '>' from the
// console, keeping the elapsed seconds shown. True when one arrived; false
// when the re-prompts are used up, and at once once the port is lost
// (IsComLost). Does not look at the stop request.
bool IsSysUpAndRunning(uint32_t timeout);
// " " then the fixed product-data write, with the fixed pauses.
void SetFirmwareDefaults();
