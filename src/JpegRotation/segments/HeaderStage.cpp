#include "JpegRotation/segments/HeaderStage.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/segments/App1Segment.h"
#include "JpegRotation/segments/HuffmanSegment.h"

namespace plume {
namespace {

// pattern with its one "%s" replaced by the marker's four hexadecimal digits.
std::string WithMarker(const char* pattern, std::uint16_t marker) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(marker));
    std::string text(pattern);
    text.replace(text.find("%s"), 2, digits);
    return text;
}

bool IsApp(std::uint16_t marker) {
    return marker >= kAPP0 && marker <= kAPP15;
}

bool IsFrame(std::uint16_t marker, bool anyJpeg) {
    return marker == kSOF0 || (anyJpeg && (marker == kSOF1 || marker == kSOF2));
}

// The coding processes that a turn of Huffman-coded 8-bit DCT blocks cannot
// take, by their markers (T.81 Table B.1): arithmetic coding (SOF9 to SOF11,
// SOF13 to SOF15, DAC), the lossless process (SOF3) and the hierarchical
// ones (SOF5 to SOF7, DHP, EXP). Nothing for any other marker.
const char* UnsupportedProcess(std::uint16_t marker) {
    if (marker == kDAC || (marker >= kSOF0 + 9 && marker <= kSOF15)) return kMsgArithmeticCoding;
    if (marker == kSOF3) return kMsgLosslessFrame;
    if ((marker >= kSOF0 + 5 && marker <= kSOF0 + 7) || marker == kDHP || marker == kEXP)
        return kMsgHierarchicalFrame;
    return nullptr;
}

class TSegmentDriver {
  public:
    TSegmentDriver(TSegmentIo& io, const THeaderContext& context, THeader& header,
                   TPassEvents& events)
        : io_(io), context_(context), header_(header), events_(events) {}

    bool Run() {
        if (io_.in.ReadWord() != kSOI) {
            events_.Error(context_.validating ? kMsgNoSoi : kMsgFatalNoSoi);
            return false;
        }
        if (!context_.validating) io_.out.WriteWord(kSOI);
        for (bool scanFound = false; !scanFound;) {
            const std::uint16_t marker = io_.in.ReadWord();
            scanFound = marker == kSOS;
            if (!Segment(marker)) return false;
        }
        return true;
    }

    bool RunBetweenScans(bool& ended) {
        betweenScans_ = true;
        ended = false;
        TMemoryStream& in = io_.in.Stream();
        for (;;) {
            // Fill bytes before a marker (T.81 B.1.1.2).
            while (in.Remaining() >= 2 && in.Memory()[in.Position()] == 0xFF &&
                   in.Memory()[in.Position() + 1] == 0xFF)
                in.SetPosition(in.Position() + 1);
            const std::uint16_t marker = io_.in.ReadWord();
            if (marker == kEOI) {
                in.SetPosition(in.Position() - 2);
                ended = true;
                return true;
            }
            if ((marker >> 8) != 0xFF) {
                events_.Error(kMsgBadAfterScan);
                return false;
            }
            if (marker == kDQT) {
                events_.Error(kMsgTablesBetweenScans);
                return false;
            }
            if (!Segment(marker)) return false;
            if (marker == kSOS) return true;
        }
    }

  private:
    // One segment after its marker; false once the stage is over.
    bool Segment(std::uint16_t marker) {
        const bool known = IsFrame(marker, context_.anyJpeg) || marker == kDQT || marker == kDHT ||
                           marker == kSOS || marker == kDRI || marker == kCOM || IsApp(marker);
        if (!known) {
            const char* process = context_.anyJpeg ? UnsupportedProcess(marker) : nullptr;
            events_.Error(process ? process
                                  : WithMarker(context_.validating ? kMsgUnknownHeader
                                                                   : kMsgFatalUnknownHeader,
                                               marker));
            return false;
        }
        const bool ok = Handle(marker);
        // A frame of four components is refused by the header pass whatever
        // else its header says.
        if (marker == kSOF0 && !context_.anyJpeg && context_.validating &&
            header_.frame.declaredComponents == 4) {
            events_.Error(kMsgNotYCbCr);
            return false;
        }
        if (!ok) {
            events_.Error(io_.refusal);
            return false;
        }
        return true;
    }

    // Reads the length field and hands the segment to its handler, then
    // holds the bytes the handler read against that length, which counts
    // itself and the parameters (T.81 B.1.1.4): a segment that says one size
    // and holds another is refused, as libjpeg refuses it.
    bool Handle(std::uint16_t marker) {
        const bool frame = IsFrame(marker, context_.anyJpeg);
        if (frame) header_.frame.declaredComponents = 0;
        TMemoryStream& in = io_.in.Stream();
        const std::size_t start = in.Position();
        // The frame, the quantisation tables and the EXIF segment are
        // written as they are read; the other segments the rotate pass
        // keeps are copied once read. An APP1 between scans is copied.
        const bool rewritten =
            frame || marker == kDQT || (marker == kAPP1 && !context_.validating && !betweenScans_);
        const bool copied = !context_.validating && !rewritten && marker != kDHT;
        if (marker == kSOS) header_.scanHeaderAt = io_.out.Position();
        if (rewritten || copied) io_.out.WriteWord(marker);
        const std::int64_t lengthPosition = io_.out.Position();
        const std::uint16_t length = io_.in.ReadWord();
        if (rewritten) io_.out.WriteWord(length);
        if (length < 2) return io_.Refuse(kMsgSegmentLength);
        if (!Body(marker, length, lengthPosition)) return false;
        if (in.Position() - start != length) return io_.Refuse(kMsgSegmentLength);
        if (copied) Copy(marker, start, length);
        return true;
    }

    bool Body(std::uint16_t marker, std::uint16_t length, std::int64_t lengthPosition) {
        const TFrameRules rules{context_.turn, context_.anyJpeg};
        if (IsFrame(marker, context_.anyJpeg)) return RewriteSof(io_, marker, rules, header_.frame);
        switch (marker) {
            case kDQT:
                return RewriteDqt(io_, length, context_.turn);
            case kDHT: {
                bool complete = true;
                const TDhtRules tables{context_.anyJpeg, !context_.tablesFromCounts,
                                       !context_.validating};
                const bool ok = RewriteDht(io_, length, tables, header_.tables, complete);
                // The host hears once per header pass of tables that the
                // output replaces.
                if (ok && !complete && context_.validating && !nonStandardNoticed_) {
                    nonStandardNoticed_ = true;
                    events_.NonStandardTables();
                }
                return ok;
            }
            case kSOS:
                return ReadSos(io_, rules, header_.frame);
            case kDRI:
                return ReadDri(io_, header_.frame);
            case kAPP1:
                if (!context_.validating && !betweenScans_)
                    return RewriteApp1(io_, length, lengthPosition, context_.exif, header_.notes);
                break;
            default:
                break;
        }
        // COM and APPn: their bodies have no use here, but are read so that
        // a short file fails here.
        TMemoryStream& in = io_.in.Stream();
        if (in.Remaining() < length - 2u) throw EStreamError(kStreamReadError);
        in.SetPosition(in.Position() + (length - 2u));
        return true;
    }

    // Copies a segment as read, from its length field to its end.
    void Copy(std::uint16_t marker, std::size_t start, std::uint16_t length) {
        const TMemoryStream& in = io_.in.Stream();
        if (marker == kAPP2) NoteMultiPicture(start, length);
        NoteColourSpace(marker, in.Memory() + start + 2, length - 2u);
        io_.out.WriteBytes(in.Memory() + start, length);
    }

    // A JFIF APP0 ("JFIF\0") or an Adobe APP14 ("Adobe", version, two flag
    // words, then the transform byte).
    void NoteColourSpace(std::uint16_t marker, const std::uint8_t* body, std::size_t size) {
        constexpr std::uint8_t kJfif[] = {'J', 'F', 'I', 'F', 0};
        constexpr std::uint8_t kAdobe[] = {'A', 'd', 'o', 'b', 'e'};
        if (marker == kAPP0 && size >= sizeof kJfif &&
            std::equal(std::begin(kJfif), std::end(kJfif), body))
            header_.jfif = true;
        if (marker == kAPP0 + 14 && size >= 12 &&
            std::equal(std::begin(kAdobe), std::end(kAdobe), body))
            header_.adobeTransform = body[11];
    }

    // The first APP2 "MPF\0" of the primary image holds the multi-picture
    // index (CIPA DC-007, 5.2), rewritten once the images after it are turned.
    void NoteMultiPicture(std::size_t start, std::uint16_t length) {
        TMetadataNotes& notes = header_.notes;
        if (context_.nested || betweenScans_ || notes.multiPicture ||
            length < 2 + kMpfIdentifierSize)
            return;
        const std::uint8_t* body = io_.in.Stream().Memory() + start + 2;
        if (!std::equal(std::begin(kMpfIdentifier), std::end(kMpfIdentifier), body)) return;
        TMultiPicturePlace place;
        place.inBody = start + 2;
        place.bodySize = length - 2u;
        place.outBody = static_cast<std::size_t>(io_.out.Position()) + 2;
        notes.multiPicture = place;
    }

    TSegmentIo& io_;
    const THeaderContext& context_;
    THeader& header_;
    TPassEvents& events_;
    bool nonStandardNoticed_ = false;
    bool betweenScans_ = false;
};

}  // namespace

bool ReadHeaders(TSegmentIo& io, const THeaderContext& context, THeader& header,
                 TPassEvents& events) {
    return TSegmentDriver(io, context, header, events).Run();
}

bool ReadBetweenScans(TSegmentIo& io, const THeaderContext& context, THeader& header,
                      TPassEvents& events, bool& ended) {
    return TSegmentDriver(io, context, header, events).RunBetweenScans(ended);
}

std::uint16_t PeekFrameMarker(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        const auto marker = static_cast<std::uint16_t>(0xFF00 | data[at + 1]);
        if (marker >= kSOF0 && marker <= kSOF15 && marker != 0xFFC4 && marker != 0xFFC8 &&
            marker != kDAC)
            return marker;
        if (marker == kSOS) return 0;
        at += 2 + (std::size_t{data[at + 2]} << 8 | data[at + 3]);
    }
    return 0;
}

}  // namespace plume
