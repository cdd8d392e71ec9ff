// One image between entering and leaving download mode.
#pragma once

void enterdownloadmode();
void exitdownloadmode();
// Streams the image file at `path` in 256-byte blocks. True when every block
// was accepted; never true after a stop request.
bool fmdl_downloadEx(const char* path);
