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

  private:
    // One segment after its marker; false once the stage is over.
    bool Segment(std::uint16_t marker) {
        const bool known = marker == kSOF0 || marker == kDQT || marker == kDHT || marker == kSOS ||
                           marker == kDRI || marker == kCOM || IsApp(marker);
        if (!known) {
            events_.Error(WithMarker(
                context_.validating ? kMsgUnknownHeader : kMsgFatalUnknownHeader, marker));
            return false;
        }
        const bool ok = Handle(marker);
        // A frame of four components is refused by the header pass whatever
        // else its header says.
        if (marker == kSOF0 && context_.validating && header_.frame.declaredComponents == 4) {
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
        if (marker == kSOF0) header_.frame.declaredComponents = 0;
        TMemoryStream& in = io_.in.Stream();
        const std::size_t start = in.Position();
        // The frame, the quantisation tables and the EXIF segment are
        // written as they are read; the other segments the rotate pass
        // keeps are copied once read.
        const bool rewritten =
            marker == kSOF0 || marker == kDQT || (marker == kAPP1 && !context_.validating);
        const bool copied = !context_.validating && !rewritten && marker != kDHT;
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
        switch (marker) {
            case kSOF0:
                return RewriteSof0(io_, context_.turn, header_.frame);
            case kDQT:
                return RewriteDqt(io_, length, context_.turn);
            case kDHT: {
                bool complete = true;
                const bool ok = RewriteDht(io_, length, header_.tables, complete);
                // The host hears once per header pass of tables that the
                // output replaces.
                if (ok && !complete && context_.validating && !nonStandardNoticed_) {
                    nonStandardNoticed_ = true;
                    events_.NonStandardTables();
                }
                return ok;
            }
            case kSOS:
                return ReadSos(io_, header_.frame);
            case kDRI:
                return ReadDri(io_, header_.frame);
            case kAPP1:
                if (!context_.validating)
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
        io_.out.WriteBytes(in.Memory() + start, length);
    }

    // The first APP2 "MPF\0" of the primary image holds the multi-picture
    // index (CIPA DC-007, 5.2), rewritten once the images after it are turned.
    void NoteMultiPicture(std::size_t start, std::uint16_t length) {
        TMetadataNotes& notes = header_.notes;
        if (context_.nested || notes.multiPicture || length < 2 + kMpfIdentifierSize) return;
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
};

}  // namespace

bool ReadHeaders(TSegmentIo& io, const THeaderContext& context, THeader& header,
                 TPassEvents& events) {
    return TSegmentDriver(io, context, header, events).Run();
}

}  // namespace plume
