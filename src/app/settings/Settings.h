// The options that survive between starts, in the per-user settings store
// that Qt's QSettings(NativeFormat, UserScope, "Tidecrest", "plume_auto")
// uses on Linux, read and written here without Qt: the INI file
// $XDG_CONFIG_HOME/Tidecrest/plume_auto.conf (~/.config when the variable is
// not set or not absolute), values in its General section. A value missing
// there is looked up as Qt does in Tidecrest.conf beside it, then in
// Tidecrest/plume_auto.conf and Tidecrest.conf in each folder of
// $XDG_CONFIG_DIRS (/etc/xdg).
#pragma once

#include <string>
#include <vector>

#include "app/files/SaveResult.h"
#include "app/run/RunOptions.h"

namespace plume {

struct TSettings {
    bool gOperateAllFile = false;       // Chk_OperateAllFile
    int gSaveMethod = smResultFolder;   // save-method code 0-4, never the combo index
    bool gKeepTimeStamp_Create = true;  // chk_KeepTimeStamp_Create
    bool gKeepTimeStamp_Write = true;   // chk_KeepTimeStamp_Write
    bool gAllowBreakDCF = false;        // chk_AllowBreakDCF
    bool gShowOption = true;            // FShowOption: option panel shown
    bool gFixMirrored = false;          // chk_FixMirrored
    // chk_ExifAnywhere: on by default, since many cameras and phones write a
    // JFIF segment before their EXIF one.
    bool gExifAnywhere = true;
    int gEdgePolicy = epMove;      // cbo_EdgePolicy: edge-policy code 0-2
    bool gAnyJpeg = false;         // chk_AnyJpeg
    bool gOptimizeTables = false;  // chk_OptimizeTables
};

// Each value that is missing, is not a 32-bit integer, or (gSaveMethod,
// gEdgePolicy) is no known code keeps its default. A Boolean is true when its
// number is not 0. A store file over 1 MiB is not read; problems, when
// given, gets a line for each such file.
TSettings LoadSettings(std::vector<std::string>* problems = nullptr);

// Writes every value as an integer (Booleans as 0 and 1) into the user's
// file, keeping its other lines, sections and keys; the file is replaced
// whole (written beside it, flushed and renamed), its folder made where
// missing. False when the store could not be written, or is read-only (no
// owner write bit), too large to keep its other lines, or no regular file;
// the file is then as it was.
bool SaveSettings(const TSettings& settings);

// The run options that the settings give (the EXIF search, mirrored
// orientations, partial edges, the kinds of JPEG and the tables); the others
// stay as they are.
void ApplyRunSettings(const TSettings& settings, TRunOptions& options);

}  // namespace plume
