// AnalysisData: the rotation mode from the EXIF orientation of a file held in
// memory, with the orientation values it acts on reset to 1 in place, and the
// EXIF thumbnail handed to the preview.
#pragma once

#include <cstdint>

#include "BitStreamFile/MemoryStream.h"
#include "app/RunView.h"

namespace plume {

// The plain box (level 0) for a file that does not start with SOI.
inline constexpr const char* kMsgAnalysisNoSoi =
    "JPEGファイルの開始のヘッダ($FFD8)を認識できません";

// The warning for an IFD0 Orientation of a type that holds no number
// (ASCII, RATIONAL ...): it is left as it is and the photo is not turned.
inline constexpr const char* kMsgOrientationUnreadable =
    "EXIFの回転情報（Orientation）の型が正しくないため読み取れません。向きは変更しません。";

struct TAnalysisOptions {
    // The engine's AllowBreakDCF: IFD1's Orientation is reset too.
    bool AllowBreakDCF = false;
    // Take the first "Exif\0\0" APP1 before the frame header wherever it
    // stands, not only right after SOI.
    bool ExifAnywhere = false;
    // The mirrored orientations 2, 4, 5 and 7 ask for a mirror (modes 4, 5,
    // 6 and 7) and are reset like the turns.
    bool FixMirrored = false;
};

// mode is in and out: set to 1, 2 or 3 when IFD0's Orientation asks for a
// turn (4 to 7 for a mirror under FixMirrored), else left as the caller set
// it. A file that does not start with SOI gets a plain message through view.
// A read past the end of the file throws EStreamError.
void AnalysisData(TMemoryStream& stream, std::uint8_t& mode, const TAnalysisOptions& options,
                  IRunView& view);

}  // namespace plume
