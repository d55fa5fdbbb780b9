// The program's icon resources as Qt pixmaps.
#pragma once

#include <QPixmap>

#include "platform/win32/windows.h"

namespace toolkit::qt {

// The image of icon resource `id`; a null pixmap when there is none or its
// image cannot be read.
QPixmap iconPixmap(UINT id);
// Frees the pixmaps while the application that made them still exists.
void clearIconCache();

// 8-bit texts of the program are in the ANSI code page; its first 256 code
// points are Latin-1's, which is what Qt can decode everywhere.
QString fromAnsi(const std::string& text);

}  // namespace toolkit::qt
