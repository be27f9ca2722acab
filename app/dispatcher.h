#pragma once
#include <string>

struct EventRecord;

// Drains g_eventQueue once per frame on the main thread, acting on each record by its type and
// deleting it. Records posted while draining (also by an action) are handled in the same call.
void dispatchEvents();

// The path a load event (type 5) reads: its name, else asset_path + project_to_load when that
// setting is present and not empty, else the autosave's last saved file.
std::string resolveLoadPath(const EventRecord& record);
// True when the text from the path's last "." onwards is exactly ".txt" or ".obj"; anything else
// (no ".", or a "." inside a folder name) names a folder of painting files.
bool isPaintingFilePath(const std::string& path);
// asset_path + the hair-set entry's file_path, or empty when index is not an entry of g_hairs.
std::string hairSetEntryPath(int index);
