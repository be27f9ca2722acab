#pragma once
#include <cstdint>
#include <vector>

#include "core/ids.h"

// How each hair texture of a stroke is drawn, one row per HairTexture: {write mode of its
// render buffer, shader index into g_shaderTable, GL primitive (3 line strip, 4 triangles)}. Triangle rows are built as ribbons
// with an index list; the others give one vertex per point.
constexpr int kRenderRowCount = HAIR_TEXTURE_LAST + 1;
inline constexpr int32_t g_renderRows[kRenderRowCount][3] = {
    {2, 0, 3},
    {0, 7, 4},
    {0, 7, 4},
    {0, 7, 4},
};

// The render row of a texture, or null for a texture outside the table.
inline const int32_t* renderRow(int texture) {
  return texture >= 0 && texture < kRenderRowCount ? g_renderRows[texture] : nullptr;
}
inline bool isRibbonTexture(int texture) {
  const int32_t* row = renderRow(texture);
  return row && row[2] == 4;
}

// Light value of point i of n from a light curve of c values: the curve stretched linearly over
// the strand. An empty curve gives 1.
float lightValueAt(const float* curve, int c, int i, int n);
