#include "core/curves.h"

// The instances in use, compiled once here.
template class Curve<float>;
template class Curve<Vec2f>;
template class Curve<Vec3f>;
template class CatmullRom<float>;
template class CatmullRom<Vec2f>;
template class CatmullRom<Vec3f>;
