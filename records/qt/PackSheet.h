#pragma once
// A pack's sheet to print and keep at the bench while the pack is built: A4 landscape pages
// under a title, a box per group (its number, its capacity, its cells' identifiers in 10 pt
// text), as many pages as the groups need. Shared by kelvo-cells and the console's pack dialog;
// both give PackTitle's line (PackReport.h) as its title. Needs a QGuiApplication (the offscreen
// platform does); its thread only.

#include <string>
#include <vector>

#include "records/Pack.h"

// Writes the sheet to `path`: a PDF document for ".pdf", else PNG images at 150 dpi, one a page,
// the first at `path` and the next ones beside it as "<path without .png>_2.png", "_3.png", ...
// Returns the files written, or throws std::runtime_error naming the file that could not be.
std::vector<std::string> WritePackSheet(const std::string& path, const TPack& pack,
                                        const std::string& title);
