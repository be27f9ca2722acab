#pragma once

namespace quillax {
class Operation;
}

// Brush colour, texture, width, curvature and light curve from a stored operation (the brush
// state of "autosaves.txt"), or the first-run defaults when there is none. Values the tables
// cannot index are clamped, with a message. Also builds the 47 cross-section profiles
// (curvature -23 to 23) and gives an empty default light curve 30 values of 1.0.
void restoreBrushState(const quillax::Operation* operation);

// The current brush settings (texture, width, curvature, colour, light curve) into `operation`.
void saveBrushState(quillax::Operation* operation);

// Reads asset_path + hair_texture into g_hairTextureMaps and loads its six maps, relative to
// that file's folder, into a new g_hairTextureSlots through g_textureManager. False, with the
// maps left empty and the slots untouched, when the file cannot be read. Needs the GL context
// for the images; without a texture manager only the rectangles are read.
bool loadHairTextureMaps();

// The reference hairstyles of asset_path + hairset_path into g_hairs: each entry with a non-zero
// load_at_begin whose file (asset_path + file_path) can be read, in order, so an entry's index
// in g_hairs is its hair-set event id. Without hairset_path nothing is read. A set that cannot
// be read is replaced by the two built-in entries, which are written to the asset path's
// "hair/hairset.txt" only when nothing is stored there yet. Returns the size of g_hairs.
int loadHairSet();
