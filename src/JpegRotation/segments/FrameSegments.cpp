#include "JpegRotation/segments/FrameSegments.h"

#include <algorithm>
#include <iterator>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/frame/BlockTables.h"

namespace plume {
namespace {

// The frame's blocks, counted over whole MCUs, must fit the memory cap.
bool CoefficientMemoryFits(const TFrameRecord& record) {
    const TFrame& frame = record.frame;
    const std::uint64_t mcuColumns =
        (static_cast<std::uint64_t>(frame.width) + 8 * frame.maxH - 1) /
        (8 * static_cast<std::uint64_t>(frame.maxH));
    const std::uint64_t mcuRows = (static_cast<std::uint64_t>(frame.height) + 8 * frame.maxV - 1) /
                                  (8 * static_cast<std::uint64_t>(frame.maxV));
    std::uint64_t blocks = 0;
    for (const TSlot& slot : frame.slot)
        blocks += mcuColumns * static_cast<std::uint64_t>(slot.h) * mcuRows *
                  static_cast<std::uint64_t>(slot.v);
    return blocks * kBlockBytes <= kCoefficientMemoryCap;
}

}  // namespace

bool RewriteSof(TSegmentIo& io, std::uint16_t marker, const TFrameRules& rules,
                TFrameRecord& record) {
    TFrame& frame = record.frame;
    frame.kind = marker == kSOF2   ? TFrameKind::Progressive
                 : marker == kSOF1 ? TFrameKind::Extended
                                   : TFrameKind::Baseline;
    const std::uint8_t precision = io.in.ReadByte();
    io.out.WriteByte(precision);
    frame.height = io.in.ReadWord();
    frame.width = io.in.ReadWord();
    record.sizePosition = io.out.Position();
    const bool exchanged = ExchangesDimensions(rules.turn);
    io.out.WriteWord(static_cast<std::uint16_t>(exchanged ? frame.width : frame.height));
    io.out.WriteWord(static_cast<std::uint16_t>(exchanged ? frame.height : frame.width));
    const std::uint8_t count = io.in.ReadByte();
    io.out.WriteByte(count);
    record.declaredComponents = count;

    if (precision != 8) io.Refuse(kMsgPrecision);
    if (record.frameSeen) io.Refuse(kMsgSecondFrame);
    if (count == 0) io.Refuse(kMsgNoComponents);
    if (rules.anyJpeg && count > kSlots) io.Refuse(kMsgTooManyComponents);
    if (frame.width == 0 || frame.height == 0) io.Refuse(kMsgZeroSize);
    record.frameSeen = true;

    // Every component is read, refused or not, so that the segment is read whole.
    std::uint8_t ids[255], factors[255], quants[255];
    for (int i = 0; i < count; ++i) {
        ids[i] = io.in.ReadByte();
        io.out.WriteByte(ids[i]);
        factors[i] = io.in.ReadByte();
        io.out.WriteByte(
            exchanged ? static_cast<std::uint8_t>(((factors[i] & 15) << 4) | (factors[i] >> 4))
                      : factors[i]);
        quants[i] = io.in.ReadByte();
        io.out.WriteByte(quants[i]);
    }
    // Identifiers 0 to 3 are their components' slots; any other identifier
    // (CMYK files number theirs from 1, others use letters) puts every
    // component in the slot of its place in the frame.
    const bool slotsOfIds =
        !rules.anyJpeg || std::all_of(ids, ids + count, [](int id) { return id < kSlots; });
    bool seen[256] = {};
    for (int i = 0; i < count; ++i) {
        const std::uint8_t id = ids[i];
        const int h = factors[i] >> 4, v = factors[i] & 15;
        if (slotsOfIds && id >= kSlots)
            io.Refuse(kMsgComponentIdOutOfRange);
        else if (seen[id])
            io.Refuse(kMsgComponentIdTwice);
        if (h == 0 || h > 4 || v == 0 || v > 4) io.Refuse(kMsgBadSampling);
        if (io.Refused()) continue;
        seen[id] = true;
        const int s = slotsOfIds ? id : i;
        record.componentIds[frame.componentCount++] = id;
        record.slotIds[s] = id;
        frame.slot[s].h = h;
        frame.slot[s].v = v;
        frame.slot[s].quantTable = quants[i];
        frame.maxH = std::max(frame.maxH, h);
        frame.maxV = std::max(frame.maxV, v);
    }
    if (io.Refused()) return false;
    if (count == 1) {
        // A scan of one component is not interleaved: its MCU is one block,
        // whatever the sampling factors say (T.81 A.2.2).
        TSlot& slot = frame.slot[slotsOfIds ? record.componentIds[0] : 0];
        slot.h = slot.v = 1;
        frame.maxH = frame.maxV = 1;
    }
    if (!CoefficientMemoryFits(record)) return io.Refuse(kMsgTooLarge);
    return true;
}

bool RewriteDqt(TSegmentIo& io, std::uint16_t length, TTurn turn) {
    // A table is its Pq/Tq byte and 64 entries of 8 bits (T.81 B.2.4.1); a
    // length that is no whole number of tables is left to the driver.
    const int tables = (length - 2) / 65;
    for (int i = 0; i < tables; ++i) {
        const std::uint8_t precisionAndId = io.in.ReadByte();
        io.out.WriteByte(precisionAndId);
        if ((precisionAndId >> 4) != 0) return io.Refuse(kMsgQuantTable16Bit);
        if ((precisionAndId & 15) > 3) return io.Refuse(kMsgQuantTableId);
        std::uint8_t values[64];
        io.in.ReadBytes(values, 64);
        if (ExchangesDimensions(turn)) {
            // Entry k takes the entry of the frequencies exchanged.
            std::uint8_t transposed[64];
            for (int k = 0; k < 64; ++k) transposed[k] = values[kTranspose[k]];
            std::copy(std::begin(transposed), std::end(transposed), values);
        }
        io.out.WriteBytes(values, 64);
    }
    return true;
}

namespace {

// The one interleaved scan of every component in identifier order, the only
// scan a frame may have without AnyJpeg.
bool ReadOneScan(TSegmentIo& io, TFrameRecord& record) {
    TFrame& frame = record.frame;
    const std::uint8_t count = io.in.ReadByte();
    if (count != frame.componentCount || count > kSlots)
        return io.Refuse(kMsgNotOneInterleavedScan);
    std::uint8_t ids[kSlots];
    std::copy_n(record.componentIds, count, ids);
    std::sort(ids, ids + count);
    TScanHeader& scan = record.scan;
    scan = {};
    scan.count = count;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t id = io.in.ReadByte();
        const std::uint8_t tables = io.in.ReadByte();
        if (id != ids[i]) return io.Refuse(kMsgNotOneInterleavedScan);
        if ((tables >> 4) > 1 || (tables & 15) > 1) return io.Refuse(kMsgHuffmanTableId);
        frame.slot[id].dcTable = scan.dcTable[i] = tables >> 4;
        frame.slot[id].acTable = scan.acTable[i] = tables & 15;
        scan.slot[i] = id;
    }
    io.in.ReadByte();  // Ss
    io.in.ReadByte();  // Se
    io.in.ReadByte();  // Ah, Al
    scan.restartInterval = frame.restartInterval;
    record.oneScan = true;
    return true;
}

// The slot of the frame's component with this identifier, or -1.
int SlotOf(const TFrameRecord& record, std::uint8_t id) {
    for (int s = 0; s < kSlots; ++s)
        if (record.frame.slot[s].Present() && record.slotIds[s] == id) return s;
    return -1;
}

// The band and the approximation bits of a progressive scan (T.81 G.1.1.1):
// a DC band alone, an AC band of one component, a refinement by one bit.
bool ProgressiveBandValid(const TScanHeader& scan) {
    if (scan.se > 63 || scan.ss > scan.se) return false;
    if (scan.ss == 0 ? scan.se != 0 : scan.count != 1) return false;
    if (scan.ah > 13 || scan.al > 13) return false;
    return scan.ah == 0 || scan.al == scan.ah - 1;
}

}  // namespace

bool ReadSos(TSegmentIo& io, const TFrameRules& rules, TFrameRecord& record) {
    if (!record.frameSeen) return io.Refuse(kMsgSosBeforeSof);
    if (!rules.anyJpeg) return ReadOneScan(io, record);
    TFrame& frame = record.frame;
    TScanHeader scan;
    scan.count = io.in.ReadByte();
    if (scan.count == 0 || scan.count > frame.componentCount) return io.Refuse(kMsgBadScanHeader);
    bool inScan[kSlots] = {};
    for (int i = 0; i < scan.count; ++i) {
        const int s = SlotOf(record, io.in.ReadByte());
        const std::uint8_t tables = io.in.ReadByte();
        if (s < 0 || inScan[s]) return io.Refuse(kMsgBadScanHeader);
        if ((tables >> 4) > 3 || (tables & 15) > 3) return io.Refuse(kMsgHuffmanTableId);
        inScan[s] = true;
        scan.slot[i] = s;
        scan.dcTable[i] = tables >> 4;
        scan.acTable[i] = tables & 15;
    }
    scan.ss = io.in.ReadByte();
    scan.se = io.in.ReadByte();
    const std::uint8_t approximation = io.in.ReadByte();
    scan.ah = approximation >> 4;
    scan.al = approximation & 15;
    if (frame.kind == TFrameKind::Progressive) {
        if (!ProgressiveBandValid(scan)) return io.Refuse(kMsgBadScanHeader);
    } else {
        // A sequential scan codes every coefficient whatever its header
        // says, as libjpeg reads it.
        scan.ss = scan.ah = scan.al = 0;
        scan.se = 63;
    }
    if (!record.progression.Accept(frame.kind, scan)) return io.Refuse(kMsgBadProgression);
    scan.restartInterval = frame.restartInterval;
    record.scan = scan;
    record.oneScan = frame.kind != TFrameKind::Progressive && scan.count == frame.componentCount &&
                     std::is_sorted(scan.slot, scan.slot + scan.count);
    for (int i = 0; i < scan.count && record.oneScan; ++i)
        record.oneScan = scan.dcTable[i] <= 1 && scan.acTable[i] <= 1;
    if (record.oneScan) {
        for (int i = 0; i < scan.count; ++i) {
            frame.slot[scan.slot[i]].dcTable = scan.dcTable[i];
            frame.slot[scan.slot[i]].acTable = scan.acTable[i];
        }
    }
    return true;
}

bool ReadDri(TSegmentIo& io, TFrameRecord& record) {
    record.frame.restartInterval = io.in.ReadWord();
    return true;
}

}  // namespace plume
