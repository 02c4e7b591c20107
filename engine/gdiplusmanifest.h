// The resource ID of the manifest (engine/gdiplus.manifest) by which the
// engine finds GDI+ where Windows keeps it only as a side-by-side assembly
// (Windows XP). Every module that runs the rasteriser carries it
// (engine/gdiplus.rc2).
#pragma once

#define ZORVANE_GDIPLUS_MANIFEST_ID 101
