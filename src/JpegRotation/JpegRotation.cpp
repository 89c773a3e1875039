// The engine object and its segment driver: the two passes over the marker
// stream (T.81 B.2, B.3).
#include "JpegRotation/JpegRotation.h"

#include <cstdio>

#include "JpegRotation/EngineMessages.h"

namespace plume {
namespace {

constexpr std::uint16_t kSOI = 0xFFD8;
constexpr std::uint16_t kSOF0 = 0xFFC0;
constexpr std::uint16_t kDHT = 0xFFC4;
constexpr std::uint16_t kSOS = 0xFFDA;
constexpr std::uint16_t kDQT = 0xFFDB;
constexpr std::uint16_t kDRI = 0xFFDD;
constexpr std::uint16_t kAPP0 = 0xFFE0;
constexpr std::uint16_t kAPP1 = 0xFFE1;
constexpr std::uint16_t kAPP2 = 0xFFE2;
constexpr std::uint16_t kAPP15 = 0xFFEF;
constexpr std::uint16_t kCOM = 0xFFFE;

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

// Releases the bit streams of a pass on every path, exceptions included.
struct TPassGuard {
    TJpegRotation& engine;
    ~TPassGuard() {
        engine.InBits.reset();
        engine.OutBits.reset();
    }
};

}  // namespace

TJpegRotation::TJpegRotation() {
    OnMessage = [](const std::string&, int) {};
    OnNonStandardHuffman = [] {};
    OnProgressMax = [](int) {};
    OnProgress = [](int) {};
    for (int v = 1; v < 256; ++v) {
        int bits = 0;
        for (int m = v; m > 0; m >>= 1) ++bits;
        BitLength[v] = bits;
    }
    for (auto& perClass : SymbolIndex)
        for (auto& perTable : perClass)
            for (auto& entry : perTable) entry = -1;
}

TJpegRotation::~TJpegRotation() = default;

void TJpegRotation::ReportError(const std::string& text) {
    errorReported_ = true;
    if (OnMessage) OnMessage(text, kLevelError);
}

void TJpegRotation::Refuse(const char* text) {
    if (refusal_ == nullptr) refusal_ = text;
}

void TJpegRotation::ReadSegmentLength(std::uint16_t& length) {
    length = InBits->ReadWord();
    if (length < 2) Refuse(kMsgSegmentLength);
}

void TJpegRotation::ReadComment() {
    std::uint16_t length = 0;
    ReadSegmentLength(length);
    if (Refused() || length <= 2) return;
    // The text has no use; the bytes are read so that a short file fails here.
    std::string text(length - 2u, '\0');
    InBits->ReadBytes(text.data(), static_cast<std::int32_t>(text.size()));
}

void TJpegRotation::SkipSegment() {
    std::uint16_t length = 0;
    ReadSegmentLength(length);
    if (Refused() || length <= 2) return;
    TMemoryStream& stream = InBits->Stream();
    if (stream.Remaining() < length - 2u) throw EStreamError(kStreamReadError);
    InBits->AlignToByte();
    stream.SetPosition(stream.Position() + (length - 2u));
}

// One pass's header loop, from the marker after SOI up to and including the
// SOS segment. Returns false after reporting why the file is refused.
bool TJpegRotation::RunHeaderLoop(bool validating) {
    bool nonStandardReported = false;
    bool scanFound = false;
    while (!scanFound) {
        const std::uint16_t marker = InBits->ReadWord();
        if (!DispatchSegment(marker, validating, nonStandardReported, scanFound)) return false;
        if (Refused()) {
            ReportError(refusal_);
            return false;
        }
    }
    return true;
}

bool TJpegRotation::DispatchSegment(std::uint16_t marker, bool validating,
                                    bool& nonStandardReported, bool& scanFound) {
    switch (marker) {
        case kDQT:
            RewriteDqt();
            return true;
        case kSOF0:
            if (RewriteSof0() == 4 && validating) {
                ReportError(kMsgNotYCbCr);
                return false;
            }
            return true;
        case kDHT:
            if (!RewriteDht() && !Refused() && validating && !nonStandardReported) {
                nonStandardReported = true;
                if (OnNonStandardHuffman) OnNonStandardHuffman();
            }
            return true;
        case kAPP1:
            if (!validating) {
                RewriteApp1();
                return true;
            }
            break;
        default:
            break;
    }
    const bool known =
        marker == kSOS || marker == kDRI || marker == kCOM || (marker >= kAPP0 && marker <= kAPP15);
    if (!known) {
        if (validating)
            ReportError(kMsgUnknownHeaderPrefix + Hex4(marker) + kMsgUnknownHeaderSuffix);
        else
            ReportError(kMsgFatalUnknownHeaderPrefix + Hex4(marker) + kMsgFatalUnknownHeaderSuffix);
        return false;
    }
    if (validating) {
        if (marker == kSOS) {
            ReadSos();
            scanFound = true;
        } else if (marker == kDRI) {
            ReadDri();
        } else if (marker == kCOM) {
            ReadComment();
        } else {
            SkipSegment();
        }
        return true;
    }
    scanFound = marker == kSOS;
    return CopyParsedSegment(marker);
}

// Parses a segment that the output takes unchanged, then copies exactly the
// bytes the parse consumed: length word and body.
bool TJpegRotation::CopyParsedSegment(std::uint16_t marker) {
    InBits->MarkPosition();
    OutBits->WriteWord(marker);
    if (marker == kSOS)
        ReadSos();
    else if (marker == kDRI)
        ReadDri();
    else if (marker == kCOM)
        ReadComment();
    else
        SkipSegment();
    if (Refused()) return true;
    const std::int32_t size = InBits->BytesSinceMark();
    InBits->ReturnToMark();
    TMemoryStream& in = InBits->Stream();
    if (marker == kAPP2)
        NoteApp2(in.Position(), static_cast<std::size_t>(OutBits->Position()),
                 static_cast<std::size_t>(size));
    OutBits->WriteBytes(in.Memory() + in.Position(), size);
    in.SetPosition(in.Position() + static_cast<std::size_t>(size));
    InBits->AlignToByte();
    return true;
}

bool TJpegRotation::ValidateJpeg(TMemoryStream& stream) {
    MaxHSampling = 1;
    MaxVSampling = 1;
    refusal_ = nullptr;
    header_ = {};
    errorReported_ = false;
    TMemoryStream scratch;
    const TMessageEvent report = [this](const std::string& text, int level) {
        if (level == kLevelError) errorReported_ = true;
        if (OnMessage) OnMessage(text, level);
    };
    TPassGuard guard{*this};
    InBits = std::make_unique<TInBitStreamFile>(stream, report);
    OutBits = std::make_unique<TOutBitStreamFile>(scratch, report);

    if (InBits->ReadWord() != kSOI) {
        ReportError(kMsgNoSoi);
        return false;
    }
    if (!RunHeaderLoop(true)) return false;
    InBits.reset();
    OutBits.reset();

    if (ImageHeight % (8 * MaxVSampling) == 0 && ImageWidth % (8 * MaxHSampling) == 0) return true;
    if (WarnPartialMcu && OnMessage) OnMessage(kMsgPartialMcu, kLevelWarning);
    return true;
}

bool TJpegRotation::RotateJpeg(TMemoryStream& inStream, TMemoryStream& outStream,
                               std::uint8_t mode) {
    Mode = mode;
    outStream.Clear();
    HasRestart = false;
    for (int s = 0; s < 4; ++s) HSampling[s] = VSampling[s] = 0;
    // Stale maxima from another file must not size this one's store.
    MaxHSampling = 1;
    MaxVSampling = 1;
    refusal_ = nullptr;
    header_ = {};
    errorReported_ = false;
    encodeFailed_ = false;
    trackCoding_ = false;
    UsedIntervalPass = false;
    UsedReversedPass = false;
    SpeculatedMcus = 0;
    frameSizePosition_ = -1;
    exifDimensions_.clear();
    trim_ = {};
    metadata_ = {};
    const TMessageEvent report = [this](const std::string& text, int level) {
        if (level == kLevelError) errorReported_ = true;
        if (OnMessage) OnMessage(text, level);
    };
    TPassGuard guard{*this};
    InBits = std::make_unique<TInBitStreamFile>(inStream, report);
    OutBits = std::make_unique<TOutBitStreamFile>(outStream, report);

    if (InBits->ReadWord() != kSOI) {
        ReportError(kMsgFatalNoSoi);
        return false;
    }
    OutBits->WriteWord(kSOI);
    if (!RunHeaderLoop(false)) return false;
    TrimEdges();

    McusPerRow = (ImageWidth + 8 * MaxHSampling - 1) / (8 * MaxHSampling);
    McuRows = (ImageHeight + 8 * MaxVSampling - 1) / (8 * MaxVSampling);
    const int rowsWritten = (ExchangesDimensions(Mode) ? McusPerRow : McuRows) - trim_.firstRow;
    if (OnProgressMax) OnProgressMax(McuRows + rowsWritten);
    if (OnProgress) OnProgress(0);

    // Any error report during the pass (a marker inside the scan data) means
    // the scan did not decode as coded: nothing may be written from it.
    trackCoding_ = Mode == kModeNone && ScanMayBeCopied();
    // A scan that may be copied as it is needs the index pass's check of
    // every block.
    UsedIntervalPass = !trackCoding_ && EncodeByIntervals();
    UsedReversedPass = !trackCoding_ && !UsedIntervalPass && EncodeReversed();
    const bool once = UsedIntervalPass || UsedReversedPass;
    const bool decoded = !once && IndexScan() && !errorReported_;
    const bool copy = trackCoding_ && codedAsCoder_;
    trackCoding_ = false;
    bool encoded = once;
    if (decoded) {
        ReplaceIncompleteTables();
        BuildSymbolIndex();
        if (copy && ScanEndsWithOnes()) {
            CopyScan();
            encoded = true;
        } else {
            encoded = EncodeFromIndex();
        }
    }
    scanIndex_.clear();
    if (!encoded) return false;

    return WriteAfterScan(outStream);
}

}  // namespace plume
