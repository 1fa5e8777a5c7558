// Pictures kept in the library's own resources (JPEG images as RCDATA).
#pragma once

#include "library/raii.h"

#include <ocidl.h>
#include <olectl.h>

namespace zorvane {

// The picture of RCDATA resource `id`; null when it cannot be read.
com_ptr<IPicture> picture_from_resource(int id) noexcept;

// Draws `picture` stretched into x, y, width, height of `dc`.
void render(IPicture* picture, HDC dc, LONG x, LONG y, LONG width, LONG height) noexcept;

} // namespace zorvane
