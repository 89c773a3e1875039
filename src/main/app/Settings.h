// The options that survive between starts, in the per-user settings store
// (QSettings, native format, organisation "Tidecrest", application
// "plume_auto"; on Linux ~/.config/Tidecrest/plume_auto.conf).
#pragma once

#include "app/RunLoop.h"
#include "app/SaveResult.h"

namespace plume {

struct TSettings {
    bool gOperateAllFile = false;       // Chk_OperateAllFile
    int gSaveMethod = smResultFolder;   // save-method code 0-4, never the combo index
    bool gKeepTimeStamp_Create = true;  // chk_KeepTimeStamp_Create
    bool gKeepTimeStamp_Write = true;   // chk_KeepTimeStamp_Write
    bool gAllowBreakDCF = false;        // chk_AllowBreakDCF
    bool gShowOption = true;            // FShowOption: option panel shown
    bool gFixMirrored = false;          // chk_FixMirrored
    bool gExifAnywhere = false;         // chk_ExifAnywhere
    int gEdgePolicy = epMove;           // cbo_EdgePolicy: edge-policy code 0-2
};

// Each value that is missing, is not a 32-bit integer, or (gSaveMethod,
// gEdgePolicy) is no known code keeps its default. A Boolean is true when its
// number is not 0.
TSettings LoadSettings();

// Writes every value as an integer (Booleans as 0 and 1). False when the
// store could not be written; the values in it are then unchanged or valid.
bool SaveSettings(const TSettings& settings);

// The run options that the settings give (the EXIF search, mirrored
// orientations, partial edges); the others stay as they are.
void ApplyRunSettings(const TSettings& settings, TRunOptions& options);

}  // namespace plume
