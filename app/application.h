#pragma once

// Reads "autosaves.txt" from the working directory into g_autosaves (empty when it does not
// read). One that is there but does not read is reported, and moved aside to
// "autosaves.txt.bad" at the first autosave rather than written over.
void readAutosaves();

// Creates the process-wide managers, in their fixed order, once the GL context is current and
// before the VR runtime starts; reads the autosaves first.
void initApplication();

// Once per frame (and once at shutdown): every 8000 ms the brush state goes into g_autosaves,
// which is written to "autosaves.txt" in the working directory. Always returns true.
bool autosaveTick();

// After the frame loop, only when the VR start-up succeeded: a last autosave tick, then the
// managers are deleted in their fixed order.
void shutdownApplication();
