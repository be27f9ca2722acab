#pragma once
#include <cstdint>

// Reads "autosaves.txt" from the working directory into g_autosaves (empty when it does not
// read). One that is there but does not read is reported, and moved aside to
// "autosaves.txt.bad" at the first autosave rather than written over.
void readAutosaves();

// Removes the temporaries that saves of ended runs left in the folders the program writes: the
// working directory, the asset root with its "hair/" and "shaders/", and the run folders under
// the saving root. Returns how many were removed, with a line for each folder that had any.
int removeStaleTemporaries();

// Creates the process-wide managers, in their fixed order, once the GL context is current and
// before the VR runtime starts; reads the autosaves first.
void initApplication();

// Once per frame (and once at shutdown): every 8000 ms the brush state goes into g_autosaves,
// which is written to "autosaves.txt" in the working directory; every project_autosave_period
// seconds (0 or less: never) the painting is autosaved. Always returns true.
bool autosaveTick();

// Whether more than periodMs have passed from `since` to `now`, on the 32-bit millisecond clock
// (wrap-around safe for periods below 2^32 ms).
bool periodPassed(uint32_t now, uint32_t since, uint64_t periodMs);

// After the frame loop, only when the VR start-up succeeded: a last autosave tick, the painting
// saved, then the managers are deleted in their fixed order. False when the painting was not
// saved (nothing to save is no failure).
bool shutdownApplication();

// The desktop display was lost: the saves handed to the writer are finished, the painting is
// saved as the shutdown saves it, "autosaves.txt" names it, and one line says what was saved.
// The saves get at most waitLimitMs in all: on a hung file system the line names the save that
// did not finish, and nothing more is written. Without a tool controller (before the start-up
// made it, after the shutdown) only the loss is told. Call it while no frame can run.
constexpr uint32_t kLostDisplaySaveWaitMs = 30000;
void endSessionOnLostDisplay(uint32_t waitLimitMs = kLostDisplaySaveWaitMs);
