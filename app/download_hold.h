// The dialogs' hold on the host: shutdown, logoff, sleep and the idle
// timer are held off while the worker downloads (see SetDownloadHold).
#pragma once

// The worker's DownloadHoldFn: true takes the hold for the settings' port,
// false lets it go. Only the worker thread calls it, one download at a time.
void HoldHostWhileDownloading(bool downloading);
// True while a hold taken by HoldHostWhileDownloading lives and was granted.
bool HostHeldForDownload();
