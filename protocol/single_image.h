// One image between entering and leaving download mode. Runs on the download
// worker; reports progress through UpdateProgress and nothing else.
#pragma once

// Writes the two console commands that switch the expander to download mode,
// 100 ms apart, without reading the answers; clears g_bExitingDlMode.
void enterdownloadmode();
// Sends the terminating header with a single attempt. Sends nothing after a
// stop request, so a stopped expander is left as it is, nor on a lost port.
void exitdownloadmode();
// Streams the image file at `path` in 256-byte blocks from offset 0, each
// block credited to the progress display before it is sent. True when every
// block was accepted; false when the file cannot be read, on the first
// refused block, and always after a stop request. Pauses 200 ms before returning.
bool fmdl_downloadEx(const char* path);
