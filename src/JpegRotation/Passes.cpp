#include "JpegRotation/Passes.h"

#include <memory>
#include <optional>

#include "BitStreamFile/InBitStreamFile.h"
#include "BitStreamFile/OutBitStreamFile.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/metadata/AfterScan.h"
#include "JpegRotation/metadata/TrimmedSize.h"
#include "JpegRotation/scan/CountedPass.h"
#include "JpegRotation/scan/ScanPass.h"
#include "JpegRotation/segments/HeaderStage.h"
#include "JpegRotation/store/StorePass.h"
#include "JpegRotation/threads/ThreadPolicy.h"

namespace plume {
namespace {

// One level of thumbnails within thumbnails is turned; deeper ones are kept.
constexpr int kMaxThumbnailDepth = 2;

TScanOptions ScanOptionsOf(const TEngineOptions& options) {
    TScanOptions scan;
    scan.threads = ThreadsToUse(options.AllowParallelCoding, options.ThreadCount);
    scan.parallelMinBlocks = options.ParallelMinBlocks;
    scan.schemes = options.Schemes;
    scan.adviseLargeBuffer = options.AdviseLargeBuffer;
    return scan;
}

// An embedded JPEG through both passes, reporting nothing; nothing when it
// cannot be turned, or ends early.
std::optional<TTurnedImage> TurnEmbedded(const std::uint8_t* image, std::size_t size, TTurn turn,
                                         const TEngineOptions& options, int thumbnailDepth) {
    TMemoryStream input(std::vector<std::uint8_t>(image, image + size));
    TMemoryStream output;
    TPassEvents silent;
    const TPassContext context{options, silent, thumbnailDepth, true};
    TFrame frame;
    TRotation rotation;
    try {
        if (!ValidatePass(input, context, frame) ||
            !RotatePass(input, output, turn, context, rotation))
            return std::nullopt;
    } catch (const EStreamError&) {
        return std::nullopt;
    }
    return TTurnedImage{std::move(output.Bytes()), rotation.trim};
}

// Tables made for the output's scans replace the input's: those of a
// progressive output always, any other's when the host asks.
bool TablesFromCounts(const TEngineOptions& options, const TMemoryStream& input) {
    return options.OptimizeTables ||
           (options.AnyJpeg && PeekFrameMarker(input.Memory(), input.Size()) == kSOF2);
}

// The messages of both bit streams go to the pass's events.
TMessageEvent StreamMessages(TPassEvents& events) {
    return [&events](const std::string& text, int level) { events.Message(text, level); };
}

}  // namespace

bool ValidatePass(TMemoryStream& input, const TPassContext& context, TFrame& frame) {
    TMemoryStream scratch;
    TInBitStreamFile in(input, StreamMessages(context.events));
    TOutBitStreamFile out(scratch, StreamMessages(context.events));
    TSegmentIo io{in, out};
    THeaderContext headerContext;
    headerContext.validating = true;
    headerContext.anyJpeg = context.options.AnyJpeg;
    headerContext.tablesFromCounts = TablesFromCounts(context.options, input);
    headerContext.nested = context.nested;
    THeader header;
    const bool read = ReadHeaders(io, headerContext, header, context.events);
    frame = header.frame.frame;
    if (!read) return false;
    if (!frame.WholeMcus() && context.options.WarnPartialMcu)
        context.events.Warning(kMsgPartialMcu);
    return true;
}

bool RotatePass(TMemoryStream& input, TMemoryStream& output, TTurn turn,
                const TPassContext& context, TRotation& rotation) {
    const TEngineOptions& options = context.options;
    TPassEvents& events = context.events;
    output.Clear();
    TInBitStreamFile in(input, StreamMessages(events));
    TOutBitStreamFile out(output, StreamMessages(events));
    TSegmentIo io{in, out};

    THeaderContext headerContext;
    headerContext.turn = turn;
    headerContext.anyJpeg = options.AnyJpeg;
    headerContext.tablesFromCounts = TablesFromCounts(options, input);
    headerContext.nested = context.nested;
    headerContext.exif.turn = turn;
    headerContext.exif.allowBreakDCF = options.AllowBreakDCF;
    if (context.thumbnailDepth < kMaxThumbnailDepth) {
        // A thumbnail keeps the defaults but for the edges, the threads and
        // the kinds of JPEG and tables.
        TEngineOptions thumbnail;
        thumbnail.TrimPartialEdges = options.TrimPartialEdges;
        thumbnail.AllowParallelCoding = options.AllowParallelCoding;
        thumbnail.ThreadCount = options.ThreadCount;
        thumbnail.ParallelMinBlocks = options.ParallelMinBlocks;
        thumbnail.AnyJpeg = options.AnyJpeg;
        thumbnail.OptimizeTables = options.OptimizeTables;
        const int depth = context.thumbnailDepth + 1;
        headerContext.exif.turnThumbnail = [turn, thumbnail, depth](const std::uint8_t* image,
                                                                    std::size_t size) {
            return TurnEmbedded(image, size, turn, thumbnail, depth);
        };
    }
    THeader header;
    const bool read = ReadHeaders(io, headerContext, header, events);
    rotation.frame = header.frame.frame;
    if (!read) return false;
    const TFrame& frame = rotation.frame;

    rotation.trim = EdgeTrimOf(frame, turn, options.TrimPartialEdges);
    WriteTrimmedSize(rotation.trim, header.frame.sizePosition, header.notes.exifDimensions,
                     output.Bytes());
    const TOutputGeometry geometry = OutputGeometryOf(frame, turn, rotation.trim);
    events.ProgressMax(static_cast<int>(frame.McuRows() + geometry.mcuRows));
    events.Progress(0);

    TScanResult scan;
    if (!header.frame.oneScan) {
        // Several scans, or a progressive one, go through the store.
        const TStoreJob job{io, headerContext, header, geometry, rotation.trim, options};
        if (!WriteFromStore(job, events, scan.scanEnd, rotation.report)) return false;
    } else {
        const auto tables = std::make_unique<TCodingTables>();
        BuildCodingTables(header.tables, *tables);
        const TScanJob job{
            frame,        *tables,         turn, geometry, ScanOptionsOf(options), input.Memory(),
            input.Size(), input.Position()};
        const bool written =
            headerContext.tablesFromCounts
                ? WriteCountedScan(job, events, output.Bytes(),
                                   static_cast<std::size_t>(header.scanHeaderAt), scan)
                : WriteScan(job, events, output.Bytes(), scan);
        rotation.report.pass = scan.pass;
        rotation.report.speculatedMcus = scan.speculatedMcus;
        if (!written) return false;
    }

    const TAfterScan after{turn,
                           options.AllowBreakDCF,
                           context.nested,
                           rotation.trim,
                           header.notes,
                           [turn, &options, &context](const std::uint8_t* image, std::size_t size) {
                               return TurnEmbedded(image, size, turn, options,
                                                   context.thumbnailDepth);
                           }};
    if (!WriteAfterScan(after, input.Memory(), input.Size(), scan.scanEnd, output.Bytes(), events,
                        rotation.report.xmpPacketsLeft))
        return false;
    output.SetPosition(0);
    return true;
}

}  // namespace plume
