// What a front end may ask of a run beyond the user's choices that the run
// reads as it goes (IRunChoices): fixed when the run starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace plume {

// What a turn does with an edge of the picture that ends inside an MCU when
// it carries that edge to the top or left side, where the encoder's padding
// would show. Stored as gEdgePolicy; an edge that stays at the right or
// bottom is turned whole under every policy.
enum : int {
    epMove = 0,  // turn whole MCUs, padding included, after the engine's warning
    epTrim = 1,  // drop that MCU column or row (the engine's TrimPartialEdges)
    epSkip = 2,  // leave the photo as it is (a thumbnail's partial edge is trimmed)
};
inline constexpr int kEdgePolicyCount = 3;

// What a stream error of one file does to the run.
enum class TFileErrorRule {
    EndRun,         // rethrown; the run ends (the window)
    ReportAndEnd,   // shown as the file's error; the run ends after the file, as it
                    // does after any file that fails (a refusal included)
    ReportAndGoOn,  // shown as the file's error; the run goes on
};

struct TRunOptions {
    // Look for the EXIF segment among all segments before the frame header.
    bool ExifAnywhere = true;
    // The console's --mode: the mode used after the analysis has run; the
    // engine then runs even for mode 0.
    std::optional<std::uint8_t> ForcedMode;
    // The console's -o: the result of the file is written here, with no
    // keep step, instead of by the save method.
    std::string OutputPath;
    // The console's --dry-run: every step of a file runs but storing it, so
    // nothing at all is written; a file that would be stored is reported as
    // TFileOutcome::WouldSave.
    bool DryRun = false;
    // Files prepared at once on worker threads; 1 keeps every step on the
    // caller's thread. Both front ends use one per core.
    unsigned Jobs = 1;
    TFileErrorRule OnFileError = TFileErrorRule::EndRun;
    // When the analysis finds no turn and ExifAnywhere is off, look whether
    // an EXIF APP1 later in the header asks for one (TFileReport::LaterExifAsksTurn).
    bool NoteLaterExif = false;
    // The mirrored orientations 2, 4, 5 and 7 are turned upright too.
    bool FixMirrored = false;
    int EdgePolicy = epMove;  // epMove, epTrim or epSkip
    // Progressive, extended, several-scan and four-component files are
    // turned too (the engine's AnyJpeg). Stored as gAnyJpeg.
    bool AnyJpeg = false;
    // Every output gets Huffman tables made from its own symbol counts (the
    // engine's OptimizeTables). Stored as gOptimizeTables.
    bool OptimizeTables = false;
    // With AnyJpeg off: the line that the refusal of a file AnyJpeg would
    // take gets at its end, naming the option as the front end shows it.
    const char* AnyJpegNote = nullptr;
};

}  // namespace plume
