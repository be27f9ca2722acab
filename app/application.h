#pragma once

namespace quillax {
class Operation;
}

// Creates the process-wide managers, in their fixed order, once the GL context is current and
// before the VR runtime starts. Reads "autosaves.txt" from the working directory.
void initApplication();

// Once per frame (and once at shutdown): every 8000 ms the brush state goes into g_autosaves,
// which is written to "autosaves.txt" in the working directory. Always returns true.
bool autosaveTick();

// After the frame loop, only when the VR start-up succeeded: a last autosave tick, then the
// managers are deleted in their fixed order.
void shutdownApplication();

// Brush colour, texture, width, curvature and light curve from a stored operation, or the
// defaults when there is none; an empty light curve becomes 30 values of 1.0.
void restoreBrushState(const quillax::Operation* operation);
// The current brush settings into `operation`.
void saveBrushState(quillax::Operation* operation);
