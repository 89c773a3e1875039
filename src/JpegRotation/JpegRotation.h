// TJpegRotation: lossless rotation and mirroring of a baseline JPEG held in
// memory. Only the entropy coding is done anew: the quantised DCT blocks are
// moved and sign-changed, never decoded to pixels.
//
// A host calls ValidateJpeg and, when it returns true, RotateJpeg on the same
// data. Bad input is reported through OnMessage (level 1 warning, level 2
// error) and a false result; only a read past the end of the input (or an
// allocation failure) leaves a pass as an exception (EStreamError).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BitStreamFile/InBitStreamFile.h"
#include "BitStreamFile/MemoryStream.h"
#include "BitStreamFile/MessageEvent.h"
#include "BitStreamFile/OutBitStreamFile.h"
#include "JpegRotation/BlockDecoder.h"
#include "JpegRotation/BlockTables.h"
#include "JpegRotation/CoefficientStore.h"
#include "JpegRotation/HuffmanCoding.h"
#include "JpegRotation/MultiPicture.h"
#include "JpegRotation/ScanIndex.h"

namespace plume {

struct TSourceTables;

// The rotation modes; the application produces 0 to 3.
enum : std::uint8_t {
    kModeNone = 0,         // decoded and re-encoded unchanged
    kModeRotateRight = 1,  // 90 degrees clockwise
    kModeRotateLeft = 2,   // 90 degrees counter-clockwise
    kModeRotate180 = 3,
    kModeFlipHorizontal = 4,
    kModeFlipVertical = 5,
    kModeTranspose = 6,   // mirrored across the top-left to bottom-right diagonal
    kModeTransverse = 7,  // mirrored across the top-right to bottom-left diagonal
};
inline constexpr int kModeCount = 8;
// The quarter turns and the two diagonal mirrors exchange width and height,
// the sampling factors and the axes of every block.
inline bool ExchangesDimensions(std::uint8_t mode) {
    return mode == kModeRotateRight || mode == kModeRotateLeft || mode == kModeTranspose ||
           mode == kModeTransverse;
}

// The coefficient store of one file may not grow past this many bytes.
inline constexpr std::uint64_t kCoefficientMemoryCap = std::uint64_t{2} << 30;

using TProgressEvent = std::function<void(int)>;
using TNotifyEvent = std::function<void()>;

class TJpegRotation {
  public:
    TJpegRotation();
    ~TJpegRotation();
    TJpegRotation(const TJpegRotation&) = delete;
    TJpegRotation& operator=(const TJpegRotation&) = delete;

    // Header pass: true when the file can be rotated (possibly after a
    // partial-MCU warning, unless WarnPartialMcu is off).
    bool ValidateJpeg(TMemoryStream& stream);
    // After ValidateJpeg: whether `mode` carries an edge of the picture that
    // ends inside an MCU (the right or the bottom one) to the output's top or
    // left side, where the encoder's padding would then show.
    bool MovesPartialEdge(std::uint8_t mode) const;
    // After ValidateJpeg: whether the padding still shows at the output's top
    // or left side with TrimPartialEdges as it is set: such an edge that
    // trimming cannot drop, because less than one whole MCU lies in that
    // direction, shows its padding as without trimming.
    bool ShowsPadding(std::uint8_t mode) const;
    // Rotate-and-write pass; on success OutStream holds the new JPEG, position 0.
    bool RotateJpeg(TMemoryStream& inStream, TMemoryStream& outStream, std::uint8_t mode);

    // ---- Callbacks and options (the host replaces what it wants) ----
    TMessageEvent OnMessage;
    TNotifyEvent OnNonStandardHuffman;
    TProgressEvent OnProgressMax;
    TProgressEvent OnProgress;
    bool AllowBreakDCF = false;
    // Drops the partial MCU column or row that the mode carries to the top or
    // left side, as `jpegtran -trim` does, where at least one whole MCU is
    // left in that direction: the output frame and the EXIF pixel dimensions
    // give the smaller size. A thumbnail engine inherits the option.
    bool TrimPartialEdges = false;
    // ValidateJpeg warns of a picture that is not a whole number of MCUs. A
    // host that decides itself what becomes of partial edges (it trims them,
    // or leaves such a photo alone) turns the warning off.
    bool WarnPartialMcu = true;
    // Threads share the work of one file (one per core unless ThreadCount
    // says how many); the bytes written, messages and progress are the same
    // either way, and the callbacks are called on the caller's thread only.
    // The scan is decoded once to an index of MCU starts, each part of it
    // from its own start on its own thread, and again as it is coded, each
    // part of the output on its own thread, without a store for the whole
    // image.
    bool AllowParallelCoding = true;
    int ThreadCount = 0;
    // Images of fewer blocks are done on one thread, where more cost more
    // than they save.
    std::int64_t ParallelMinBlocks = 1 << 14;
    // When the turn carries each restart interval of the scan whole onto
    // one of the output (a half turn or a mirror whose rows hold whole
    // intervals, any turn with an interval of one MCU), or needs each
    // interval's MCUs in their order (a turn to the right of intervals
    // within rows), each interval is decoded once, as the output needs it,
    // instead of indexing the scan first; a scan that does not decode
    // cleanly that way goes through the index, so the bytes, messages and
    // progress are the same either way.
    bool AllowIntervalPass = true;
    // Whether the last pass went that way.
    bool UsedIntervalPass = false;
    // A half turn of a scan without restart markers is decoded once, from
    // the front, and coded from the back, each thread taking a part of the
    // scan from a place of its own; a scan that does not decode cleanly
    // that way goes through the index, with the same bytes, messages and
    // progress.
    bool AllowReversedPass = true;
    bool UsedReversedPass = false;
    // Called before a file of `inputBytes` bytes is read, so that the other
    // threads are awake by the time its scan is decoded: waking them then
    // can cost more than their share saves.
    void PrepareThreads(std::uint64_t inputBytes) const;
    // MCUs of the last pass whose decoding other threads did ahead of time
    // (0 when none ran or none fell into step with the scan).
    std::int64_t SpeculatedMcus = 0;

    // ---- Segment handlers (the marker has been read by the driver) ----
    int RewriteSof0();
    void RewriteDqt();
    bool RewriteDht();
    void ReadSos();
    void ReadDri();
    void RewriteApp1();
    void ReadComment();
    void SkipSegment();
    void WriteStandardHuffmanBody(int tableClass, int tableIndex);
    // Position k takes the value at T(k), the position with u and v exchanged.
    static void TransposeBlock(std::uint8_t (&values)[64]);
    static void TransposeBlock(TCoefBlock& block);

    // ---- Scan decoding ----
    int DecodeSymbol(int tableClass, int tableIndex);
    bool DecodeBlock(int component, TCoefBlock& block);
    bool DecodeScan();

    // ---- Huffman tables and encoding ----
    void InstallStandardTable(int count, int tableClass, const std::uint16_t* symbols,
                              int tableIndex);
    void ReplaceIncompleteTables();
    void BuildSymbolIndex();
    void EncodeBlock(int component, const TCoefBlock& block);
    void EncodeDC(int tableIndex, std::int32_t diff);
    void EncodeAC(int tableIndex, std::int32_t value, std::int32_t run);

    // ---- Block transforms and output order ----
    static void RotateBlockRight(TCoefBlock& block);
    static void RotateBlockLeft(TCoefBlock& block);
    static void RotateBlock180(TCoefBlock& block);
    static void FlipBlockHorizontal(TCoefBlock& block);
    static void FlipBlockVertical(TCoefBlock& block);
    bool TransformAndEncode();

    // ---- Engine state ----
    std::unique_ptr<TInBitStreamFile> InBits;
    std::unique_ptr<TOutBitStreamFile> OutBits;
    std::uint8_t Mode = 0;

    // Huffman table record per class (0 = DC, 1 = AC) and index (0, 1), in
    // canonical order (T.81 Annex C).
    std::int32_t HuffCount[2][2] = {};
    std::vector<std::int32_t> HuffLengths[2][2];
    std::vector<std::int32_t> HuffSymbols[2][2];
    std::vector<std::int32_t> HuffCodes[2][2];
    std::int32_t SymbolIndex[2][2][256];

    // One raster per slot, covering whole MCUs. DecodeScan places every block
    // where the current Mode puts it: the rasters hold the output image, in
    // the output's block order, with the blocks' contents still as decoded.
    TCoefRaster Coefficients[4];
    std::int32_t DcSelector[4] = {};
    std::int32_t AcSelector[4] = {};
    std::int32_t ImageWidth = 0;
    std::int32_t ImageHeight = 0;
    std::int32_t DcPredictor[4] = {};
    std::int32_t McusPerRow = 0;
    std::int32_t McuRows = 0;
    std::int32_t MaxHSampling = 1;
    std::int32_t MaxVSampling = 1;
    std::int32_t HSampling[4] = {};
    std::int32_t VSampling[4] = {};
    std::int32_t QuantSelector[4] = {};
    bool HasRestart = false;
    std::int32_t RestartInterval = 0;
    std::int32_t RestartCounter = 0;
    std::int32_t BitLength[256] = {};

  private:
    friend class TExifRewriter;

    // Header state of the current pass, used to refuse what the engine cannot
    // handle before any value is trusted.
    struct THeaderState {
        bool frameSeen = false;
        int componentCount = 0;
        std::uint8_t componentIds[4] = {};
    };

    bool RunHeaderLoop(bool validating);
    bool DispatchSegment(std::uint16_t marker, bool validating, bool& nonStandardReported,
                         bool& scanFound);
    bool CopyParsedSegment(std::uint16_t marker);
    void ReportError(const std::string& text);
    // Records the first refusal of a header handler; the driver reports it.
    void Refuse(const char* text);
    bool Refused() const { return refusal_ != nullptr; }
    void ReadSegmentLength(std::uint16_t& length);
    bool CoefficientMemoryFits() const;
    // The input's edges that end inside an MCU and that `mode` carries to
    // the output's top or left side.
    struct TFrontEdges {
        bool right = false, bottom = false;
    };
    TFrontEdges PartialFrontEdges(std::uint8_t mode) const;
    // After the header loop of RotateJpeg: decides what TrimPartialEdges
    // drops and writes the smaller size into the frame and the EXIF data.
    void TrimEdges();
    template <class TCount, class TSymbol>
    void AssignCanonicalCodes(int tableClass, int tableIndex, const TCount* bits,
                              const TSymbol* symbols, int count);

    void PrepareDecodeTables();
    TScanReader& ScanReader();
    TScanWriter& ScanWriter();
    // Reports a scan that cannot be decoded, after any event its bits passed.
    bool FailBlock(const char* text);
    // After a block: true when it decoded, else false after the report.
    bool BlockDecoded(TBlockStatus status);
    // The blocks of one MCU as DecodeBlock decodes them, without keeping
    // the coefficients.
    template <bool kTrackCoding>
    bool SkipMcu();
    bool ReadRestartMarker();
    void BeginScanDecoding();
    // Where each decoded block goes: block (row r, column c) of slot s of the
    // input lands at base[s] + origin[s] + r * rowStride[s] + c * columnStride[s].
    struct TBlockPlacement {
        TCoefBlock* base[4];
        std::ptrdiff_t origin[4], rowStride[4], columnStride[4];
    };
    TBlockPlacement StorePlacement();
    bool DecodeMcuRow(int y, const TBlockPlacement& placement);
    void EndScanDecoding();
    // After the blocks of one MCU: marker events, then the restart rule.
    void FinishMcu(bool last);
    // The pass without a store: IndexScan decodes the scan once, reporting
    // as DecodeScan does, and records where each MCU starts; EncodeFromIndex
    // then does what TransformAndEncode does, decoding each MCU again.
    TMcuPlan DecodePlan() const;
    bool IndexScan();
    std::size_t McuCapacity(std::size_t bytes) const;
    int ThreadsToUse() const;
    // Threads that code an output of `blocks` blocks.
    int CodingThreads(std::int64_t blocks) const;
    struct TSpeculations;
    // Where the parts of the scan after the first begin when it is cut into
    // `parts` (data bytes or, with restart markers, the bytes after
    // markers), in order; none where parts would be too small to pay, or
    // where there is one thread.
    std::vector<std::size_t> SpeculationStarts(int parts) const;
    void StartSpeculations(TSpeculations& speculations) const;
    std::int64_t TakeSpeculation(TSpeculativeScan& speculation, std::int64_t m);
    template <class TBlock>
    struct TIndexSource;
    template <class TBlock>
    int PrepareIndexSource(TIndexSource<TBlock>& source, TSourceTables& tables);
    // The input restart intervals of the interval pass: where each one's
    // data begins, and where the scan ends once the last one is decoded.
    struct TIntervalPlan {
        std::int64_t length = 0;  // MCUs per interval
        std::int64_t mcus = 0;    // in the input
        bool walk = false;        // each interval decoded on, not held whole
        std::vector<std::size_t> starts;
        std::size_t* scanEnd = nullptr;
    };
    template <class TBlock>
    bool EncodeFromIndexAs(const TIntervalPlan* intervals);
    template <class TBlock>
    bool EncodeWalkedInRanges(TIndexSource<TBlock>& source, int progressBase);
    // Without intervals, from the index; with them, the interval pass, which
    // reports nothing when it fails.
    bool EncodeFromIndex(const TIntervalPlan* intervals = nullptr);
    // The interval pass when the scan suits it: true when it wrote the scan
    // and reported as IndexScan and EncodeFromIndex would have; false, with
    // nothing written or reported and the state as before, otherwise.
    bool EncodeByIntervals();
    bool IntervalsCarriedWhole() const;
    // The pass that decodes a half turn once (ReversePass.cpp): true when it
    // wrote the scan, false with nothing written or reported otherwise.
    struct TReversalLane;
    bool ScanReversible() const;
    bool EncodeReversed();
    bool IntervalsWalkedInOrder() const;
    bool FindIntervalStarts(TIntervalPlan& plan) const;
    // Mode 0 writes the scan data as they are when coding them again would
    // give the same bytes: every table complete and used as is, no restart
    // markers, every block coded as the coder codes it, 1-bits as padding.
    bool ScanMayBeCopied() const;
    // Every table the scan uses is complete, so none is replaced for the output.
    bool UsedTablesComplete() const;
    bool ScanEndsWithOnes() const;  // after IndexScan
    void CopyScan();
    struct TOutputLayout;
    struct TEncodeRange {
        std::int64_t first, last;  // output MCUs
        std::int32_t predictor[4];
        int restartCounter;
        int restartIndex;
        bool failed;
    };
    struct TStoreSource;
    template <class TBlockSource>
    void EncodeMcus(TBlockSource& source, TEncodeRange& range, TScanWriter& writer,
                    int progressBase, bool report);
    // Sets up the output geometry (the MCU grid is exchanged for a quarter
    // turn) and returns the first progress position of the rows written.
    int BeginOutput(TOutputLayout& layout);
    template <class TBlockSource>
    bool EncodeOutput(TBlockSource& source, int progressBase);
    // Pads and trims the output scan; false after reporting a symbol without a code.
    bool EndOutputScan(TScanWriter& writer, bool failed);

    // What the pass keeps true beyond the frame (MetadataPass.cpp): the
    // multi-picture index and the images after the primary, and the XMP
    // packets. The segment handlers note where these lie as they copy them.
    struct TXmpPlace {
        std::size_t start, size;  // of the packet in the output
    };
    struct TMetadataNotes {
        std::optional<TMultiPicturePlace> multiPicture;  // the first APP2 "MPF\0"
        std::vector<TXmpPlace> xmp;
        bool orientationUpright = false;  // the EXIF rewrite set IFD0's Orientation to 1
    };
    void NoteApp2(std::size_t inLength, std::size_t outLength, std::size_t size);
    void NoteXmp(std::size_t outBody, const std::vector<std::uint8_t>& body);
    // The bytes after the scan; false after reporting a gain map that cannot
    // be kept true.
    bool WriteAfterScan(TMemoryStream& outStream);
    std::optional<std::vector<std::uint8_t>> TurnSecondary(const std::uint8_t* image,
                                                           std::size_t size,
                                                           std::uint32_t attribute) const;
    bool KeepContainerTrue(const std::vector<TSecondaryImage>& images, std::size_t primaryEnd,
                           std::size_t inputSize, std::vector<std::uint8_t>& output);

    TMetadataNotes metadata_;
    // An engine for an EXIF thumbnail or a secondary image: the images after
    // its own EOI are not its to rewrite, which also bounds the nesting.
    bool nested_ = false;
    const char* refusal_ = nullptr;
    THeaderState header_;
    bool errorReported_ = false;  // any level-2 report in this pass
    THuffmanDecodeTable decodeTables_[2][2];
    THuffmanEncodeTable encodeTables_[2][2];
    std::unique_ptr<TScanReader> scanReader_;
    std::unique_ptr<TScanWriter> scanWriter_;  // for EncodeBlock outside a pass
    std::vector<TMcuStart> scanIndex_;  // McusPerRow * McuRows + 1 starts, the last the scan's end
    TMcuPlan indexPlan_;
    std::size_t scanStart_ = 0;
    bool trackCoding_ = false;  // IndexScan notes blocks coded otherwise than the coder does
    bool codedAsCoder_ = true;  // and found none
    bool encodeFailed_ = false;
    bool quietOutputFailure_ = false;  // EndOutputScan leaves the report to a later pass

    // What the output of the current RotateJpeg drops (TrimPartialEdges):
    // its first MCU column and row (0 or 1 each), and the size its frame gives.
    struct TEdgeTrim {
        int firstColumn = 0, firstRow = 0;
        std::int32_t width = 0, height = 0;
    };
    TEdgeTrim trim_;
    std::int64_t frameSizePosition_ = -1;  // output position of the frame's Y field
    // Output positions of the entries PixelXDimension and PixelYDimension
    // (-1: none) of each EXIF segment written, and its byte order.
    struct TExifDimensions {
        std::int64_t width = -1, height = -1;
        bool littleEndian = false;
    };
    std::vector<TExifDimensions> exifDimensions_;
};

}  // namespace plume
