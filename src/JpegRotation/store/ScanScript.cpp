#include "JpegRotation/store/ScanScript.h"

#include "JpegRotation/frame/BlockTables.h"

namespace plume {

bool BandSurvivesTurn(int ss, int se, TTurn turn) {
    if (!ExchangesDimensions(turn)) return true;
    for (int k = ss; k <= se; ++k)
        if (kTranspose[k] < ss || kTranspose[k] > se) return false;
    return true;
}

bool ScriptSurvivesTurn(const std::vector<TScanHeader>& script, TTurn turn) {
    for (const TScanHeader& scan : script)
        if (!BandSurvivesTurn(scan.ss, scan.se, turn)) return false;
    return true;
}

namespace {

// A DC scan of every component (one scan interleaves up to four, T.81 B.2.3).
void AddDcScan(const TScriptFrame& frame, int ah, int al, std::vector<TScanHeader>& script) {
    TScanHeader scan;
    scan.count = frame.count;
    for (int i = 0; i < frame.count; ++i) scan.slot[i] = frame.slot[i];
    scan.ss = scan.se = 0;
    scan.ah = ah;
    scan.al = al;
    script.push_back(scan);
}

// A scan of the band of the component at place `index` in the frame.
void AddAcScan(const TScriptFrame& frame, int index, int ss, int se, int ah, int al,
               std::vector<TScanHeader>& script) {
    TScanHeader scan;
    scan.count = 1;
    scan.slot[0] = frame.slot[index];
    scan.ss = ss;
    scan.se = se;
    scan.ah = ah;
    scan.al = al;
    script.push_back(scan);
}

void AddAcScans(const TScriptFrame& frame, int ss, int se, int ah, int al,
                std::vector<TScanHeader>& script) {
    for (int i = 0; i < frame.count; ++i) AddAcScan(frame, i, ss, se, ah, al, script);
}

}  // namespace

std::vector<TScanHeader> StandardScript(const TScriptFrame& frame, std::int32_t restartInterval) {
    std::vector<TScanHeader> script;
    if (frame.count == 3 && frame.ycbcr) {
        // The luminance's first bands come early; the chrominance, small,
        // takes few scans; the luminance's last bit, the largest scan, last.
        AddDcScan(frame, 0, 1, script);
        AddAcScan(frame, 0, 1, 5, 0, 2, script);
        AddAcScan(frame, 2, 1, 63, 0, 1, script);
        AddAcScan(frame, 1, 1, 63, 0, 1, script);
        AddAcScan(frame, 0, 6, 63, 0, 2, script);
        AddAcScan(frame, 0, 1, 63, 2, 1, script);
        AddDcScan(frame, 1, 0, script);
        AddAcScan(frame, 2, 1, 63, 1, 0, script);
        AddAcScan(frame, 1, 1, 63, 1, 0, script);
        AddAcScan(frame, 0, 1, 63, 1, 0, script);
    } else {
        AddDcScan(frame, 0, 1, script);
        AddAcScans(frame, 1, 5, 0, 2, script);
        AddAcScans(frame, 6, 63, 0, 2, script);
        AddAcScans(frame, 1, 63, 2, 1, script);
        AddDcScan(frame, 1, 0, script);
        AddAcScans(frame, 1, 63, 1, 0, script);
    }
    for (TScanHeader& scan : script) {
        scan.restartInterval = restartInterval;
        SelectMadeTables(frame, scan);
    }
    return script;
}

void SelectMadeTables(const TScriptFrame& frame, TScanHeader& scan) {
    for (int i = 0; i < scan.count; ++i) {
        const int table = scan.slot[i] == frame.slot[0] ? 0 : 1;
        scan.dcTable[i] = scan.acTable[i] = table;
    }
}

}  // namespace plume
