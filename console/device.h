// Console commands besides the version query: reboot, wait for the prompt,
// factory defaults.
#pragma once
#include <cstdint>

// " " then the reboot command three times, with the fixed pauses.
void RebootExpander();
// Waits up to `timeout` whole seconds (then ten re-prompts) for a '>' from the
// console. True when one arrived.
bool IsSysUpAndRunning(uint32_t timeout);
// " " then the fixed product-data write, with the fixed pauses.
void SetFirmwareDefaults();
