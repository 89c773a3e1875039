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
    for (int i = 0; i < frame.componentCount; ++i) {
        const TSlot& slot = frame.slot[record.componentIds[i]];
        blocks += mcuColumns * static_cast<std::uint64_t>(slot.h) * mcuRows *
                  static_cast<std::uint64_t>(slot.v);
    }
    return blocks * kBlockBytes <= kCoefficientMemoryCap;
}

}  // namespace

bool RewriteSof0(TSegmentIo& io, TTurn turn, TFrameRecord& record) {
    TFrame& frame = record.frame;
    const std::uint8_t precision = io.in.ReadByte();
    io.out.WriteByte(precision);
    frame.height = io.in.ReadWord();
    frame.width = io.in.ReadWord();
    record.sizePosition = io.out.Position();
    const bool exchanged = ExchangesDimensions(turn);
    io.out.WriteWord(static_cast<std::uint16_t>(exchanged ? frame.width : frame.height));
    io.out.WriteWord(static_cast<std::uint16_t>(exchanged ? frame.height : frame.width));
    const std::uint8_t count = io.in.ReadByte();
    io.out.WriteByte(count);
    record.declaredComponents = count;

    if (precision != 8) io.Refuse(kMsgPrecision);
    if (record.frameSeen) io.Refuse(kMsgSecondFrame);
    if (count == 0) io.Refuse(kMsgNoComponents);
    if (frame.width == 0 || frame.height == 0) io.Refuse(kMsgZeroSize);
    record.frameSeen = true;

    // Every component is read, refused or not, so that the segment is read whole.
    bool seen[kSlots] = {};
    for (int i = 0; i < count; ++i) {
        const std::uint8_t id = io.in.ReadByte();
        io.out.WriteByte(id);
        const std::uint8_t sampling = io.in.ReadByte();
        io.out.WriteByte(exchanged
                             ? static_cast<std::uint8_t>(((sampling & 15) << 4) | (sampling >> 4))
                             : sampling);
        const std::uint8_t quant = io.in.ReadByte();
        io.out.WriteByte(quant);

        const int h = sampling >> 4, v = sampling & 15;
        if (id >= kSlots)
            io.Refuse(kMsgComponentIdOutOfRange);
        else if (seen[id])
            io.Refuse(kMsgComponentIdTwice);
        if (h == 0 || h > 4 || v == 0 || v > 4) io.Refuse(kMsgBadSampling);
        if (io.Refused()) continue;
        seen[id] = true;
        record.componentIds[frame.componentCount++] = id;
        frame.slot[id].h = h;
        frame.slot[id].v = v;
        frame.slot[id].quantTable = quant;
        frame.maxH = std::max(frame.maxH, h);
        frame.maxV = std::max(frame.maxV, v);
    }
    if (io.Refused()) return false;
    if (count == 1) {
        // A scan of one component is not interleaved: its MCU is one block,
        // whatever the sampling factors say (T.81 A.2.2).
        TSlot& slot = frame.slot[record.componentIds[0]];
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

bool ReadSos(TSegmentIo& io, TFrameRecord& record) {
    if (!record.frameSeen) return io.Refuse(kMsgSosBeforeSof);
    TFrame& frame = record.frame;
    const std::uint8_t count = io.in.ReadByte();
    if (count != frame.componentCount || count > kSlots)
        return io.Refuse(kMsgNotOneInterleavedScan);
    std::uint8_t ids[kSlots];
    std::copy_n(record.componentIds, count, ids);
    std::sort(ids, ids + count);
    for (int i = 0; i < count; ++i) {
        const std::uint8_t id = io.in.ReadByte();
        const std::uint8_t tables = io.in.ReadByte();
        if (id != ids[i]) return io.Refuse(kMsgNotOneInterleavedScan);
        if ((tables >> 4) > 1 || (tables & 15) > 1) return io.Refuse(kMsgHuffmanTableId);
        frame.slot[id].dcTable = tables >> 4;
        frame.slot[id].acTable = tables & 15;
    }
    io.in.ReadByte();  // Ss
    io.in.ReadByte();  // Se
    io.in.ReadByte();  // Ah, Al
    return true;
}

bool ReadDri(TSegmentIo& io, TFrameRecord& record) {
    record.frame.restartInterval = io.in.ReadWord();
    return true;
}

}  // namespace plume
