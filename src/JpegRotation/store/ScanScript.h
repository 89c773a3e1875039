// The output's scans, when they are written from the coefficient store: the
// input's own, where the turn leaves every scan's band one band; else the
// standard progressive script that libjpeg writes for the frame's
// components (jpeg_simple_progression, as `jpegtran -progressive` writes
// it).
#pragma once

#include <vector>

#include "JpegRotation/frame/ScanHeader.h"
#include "JpegRotation/frame/Turn.h"

namespace plume {

// A band of zigzag positions stays one band under a turn that transposes
// the blocks only when it is made of whole diagonals (T.81 Figure A.6), as
// most scripts' bands are: 1-5, 6-63, 1-63, 1-2, 3-9. A turn that keeps the
// axes keeps every band.
bool BandSurvivesTurn(int ss, int se, TTurn turn);
bool ScriptSurvivesTurn(const std::vector<TScanHeader>& script, TTurn turn);

// What the standard script depends on: the frame's components in frame
// order, as slots, and whether libjpeg takes three of them for YCbCr (a
// JFIF segment; an Adobe segment with transform 1 or another than 0; else
// any identifiers but 'R', 'G', 'B').
struct TScriptFrame {
    int count = 0;
    int slot[kSlots] = {};
    bool ycbcr = false;
};
// restartInterval: of every scan.
std::vector<TScanHeader> StandardScript(const TScriptFrame& frame, std::int32_t restartInterval);

// The table selectors of an output whose tables are made for its scans: the
// first component of the frame takes tables 0, the others tables 1, as a
// baseline frame allows.
void SelectMadeTables(const TScriptFrame& frame, TScanHeader& scan);

}  // namespace plume
