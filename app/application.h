#pragma once

// Creates the process-wide managers, in their fixed order, once the GL context is current and
// before the VR runtime starts. Reads "autosaves.txt" from the working directory.
void initApplication();

// Once per frame (and once at shutdown): every 8000 ms the brush state goes into g_autosaves,
// which is written to "autosaves.txt" in the working directory. Always returns true.
bool autosaveTick();

// After the frame loop, only when the VR start-up succeeded: a last autosave tick, then the
// managers are deleted in their fixed order.
void shutdownApplication();
