// AnalysisData: the rotation mode from the EXIF orientation of a file held in
// memory, with the orientation values it acts on reset to 1 in place, and the
// EXIF thumbnail for the preview. It shows nothing itself: the run shows what
// it found.
#pragma once

#include <cstdint>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "BitStreamFile/MessageEvent.h"

namespace plume {

// The plain box (level 0) for a file that does not start with SOI.
inline constexpr const char* kMsgAnalysisNoSoi =
    Msg("JPEGファイルの開始のヘッダ($FFD8)を認識できません");

// The warning for an IFD0 Orientation of a type that holds no number
// (ASCII, RATIONAL ...): it is left as it is and the photo is not turned.
inline constexpr const char* kMsgOrientationUnreadable =
    Msg("EXIFの回転情報（Orientation）の型が正しくないため読み取れません。向きは変更しません。");

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

struct TAnalysis {
    // 1, 2 or 3 when IFD0's Orientation asks for a turn (4 to 7 for a mirror
    // under FixMirrored), else 0.
    std::uint8_t Mode = 0;
    // The file does not start with SOI: no JPEG (the plain box kMsgAnalysisNoSoi).
    bool NoSoi = false;
    // IFD0's Orientation is of a type that holds no number (kMsgOrientationUnreadable).
    bool OrientationUnreadable = false;
    // The EXIF thumbnail's bytes, when it lies wholly inside the segment.
    std::vector<std::uint8_t> Thumbnail;
};

// A read past the end of the file throws EStreamError.
TAnalysis AnalysisData(TMemoryStream& stream, const TAnalysisOptions& options);

}  // namespace plume
