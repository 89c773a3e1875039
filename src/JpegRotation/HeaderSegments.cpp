// Handlers of the header segments that a rotation changes or depends on:
// SOF0, DQT, DHT, SOS and DRI (T.81 B.2.2 to B.2.4). Each refuses, through
// Refuse(), what the engine cannot handle before any value read is used.
#include <algorithm>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/StandardTables.h"

namespace plume {

int TJpegRotation::RewriteSof0() {
    OutBits->WriteWord(0xFFC0);
    std::uint16_t length = 0;
    ReadSegmentLength(length);
    OutBits->WriteWord(length);
    if (Refused()) return 0;
    const std::uint8_t precision = InBits->ReadByte();
    OutBits->WriteByte(precision);
    ImageHeight = InBits->ReadWord();
    ImageWidth = InBits->ReadWord();
    frameSizePosition_ = OutBits->Position();
    if (ExchangesDimensions(Mode)) {
        OutBits->WriteWord(static_cast<std::uint16_t>(ImageWidth));
        OutBits->WriteWord(static_cast<std::uint16_t>(ImageHeight));
    } else {
        OutBits->WriteWord(static_cast<std::uint16_t>(ImageHeight));
        OutBits->WriteWord(static_cast<std::uint16_t>(ImageWidth));
    }
    const std::uint8_t count = InBits->ReadByte();
    OutBits->WriteByte(count);

    if (precision != 8) Refuse(kMsgPrecision);
    if (header_.frameSeen) Refuse(kMsgSecondFrame);
    if (count == 0) Refuse(kMsgNoComponents);
    if (ImageWidth == 0 || ImageHeight == 0) Refuse(kMsgZeroSize);
    header_.frameSeen = true;

    bool seen[4] = {};
    for (int i = 0; i < count; ++i) {
        const std::uint8_t id = InBits->ReadByte();
        OutBits->WriteByte(id);
        const std::uint8_t sampling = InBits->ReadByte();
        OutBits->WriteByte(ExchangesDimensions(Mode)
                               ? static_cast<std::uint8_t>(((sampling & 15) << 4) | (sampling >> 4))
                               : sampling);
        const std::uint8_t quant = InBits->ReadByte();
        OutBits->WriteByte(quant);

        const int h = sampling >> 4, v = sampling & 15;
        if (id > 3)
            Refuse(kMsgComponentIdOutOfRange);
        else if (seen[id])
            Refuse(kMsgComponentIdTwice);
        if (h == 0 || h > 4 || v == 0 || v > 4) Refuse(kMsgBadSampling);
        if (Refused()) continue;
        seen[id] = true;
        header_.componentIds[header_.componentCount++] = id;
        HSampling[id] = h;
        VSampling[id] = v;
        QuantSelector[id] = quant;
        MaxHSampling = std::max(MaxHSampling, h);
        MaxVSampling = std::max(MaxVSampling, v);
    }
    if (Refused()) return count;
    if (count == 1) {
        // A scan of one component is not interleaved: its MCU is one block,
        // whatever the sampling factors say (T.81 A.2.2).
        const int id = header_.componentIds[0];
        HSampling[id] = VSampling[id] = 1;
        MaxHSampling = MaxVSampling = 1;
    }
    if (!CoefficientMemoryFits()) Refuse(kMsgTooLarge);
    return count;
}

bool TJpegRotation::CoefficientMemoryFits() const {
    const std::uint64_t mcuColumns = (static_cast<std::uint64_t>(ImageWidth) + 8 * MaxHSampling - 1) /
                                     (8 * static_cast<std::uint64_t>(MaxHSampling));
    const std::uint64_t mcuRows = (static_cast<std::uint64_t>(ImageHeight) + 8 * MaxVSampling - 1) /
                                  (8 * static_cast<std::uint64_t>(MaxVSampling));
    std::uint64_t blocks = 0;
    for (int i = 0; i < header_.componentCount; ++i) {
        const int id = header_.componentIds[i];
        blocks += mcuColumns * static_cast<std::uint64_t>(HSampling[id]) * mcuRows *
                  static_cast<std::uint64_t>(VSampling[id]);
    }
    return blocks * sizeof(TCoefBlock) <= kCoefficientMemoryCap;
}

void TJpegRotation::RewriteDqt() {
    OutBits->WriteWord(0xFFDB);
    std::uint16_t length = 0;
    ReadSegmentLength(length);
    OutBits->WriteWord(length);
    if (Refused()) return;
    const int tables = (length - 2) / 65;
    for (int i = 0; i < tables; ++i) {
        const std::uint8_t precisionAndId = InBits->ReadByte();
        OutBits->WriteByte(precisionAndId);
        if ((precisionAndId >> 4) != 0) return Refuse(kMsgQuantTable16Bit);
        if ((precisionAndId & 15) > 3) return Refuse(kMsgQuantTableId);
        std::uint8_t values[64];
        InBits->ReadBytes(values, 64);
        if (ExchangesDimensions(Mode)) TransposeBlock(values);
        OutBits->WriteBytes(values, 64);
    }
}

namespace {

// True when the counts fit the code space of the canonical assignment
// (T.81 C.2): after each length the next code may not pass 2^length.
bool CountsFitCodeSpace(const std::uint8_t (&bits)[16]) {
    std::uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        code = (code << 1) + bits[length - 1];
        if (code > (1u << length)) return false;
    }
    return true;
}

struct TDhtTable {
    std::uint8_t classAndIndex;
    std::uint8_t bits[16];
    std::vector<std::uint8_t> symbols;
};

}  // namespace

bool TJpegRotation::RewriteDht() {
    std::uint16_t length = 0;
    ReadSegmentLength(length);
    if (Refused()) return false;
    int remaining = length - 2;
    std::uint32_t outputLength = 2;
    bool complete = true;
    std::vector<TDhtTable> tables;
    while (remaining > 0) {
        if (remaining < 17) {
            Refuse(kMsgDhtLength);
            return false;
        }
        TDhtTable table{};
        table.classAndIndex = InBits->ReadByte();
        const int tableClass = table.classAndIndex >> 4, tableIndex = table.classAndIndex & 15;
        if (tableClass > 1 || tableIndex > 1) {
            Refuse(kMsgHuffmanTableId);
            return false;
        }
        InBits->ReadBytes(table.bits, 16);
        int count = 0;
        for (std::uint8_t b : table.bits) count += b;
        if (count > 256 || !CountsFitCodeSpace(table.bits)) {
            Refuse(kMsgHuffmanCounts);
            return false;
        }
        if (remaining - 17 < count) {
            Refuse(kMsgDhtLength);
            return false;
        }
        remaining -= 17 + count;
        table.symbols.resize(static_cast<std::size_t>(count));
        InBits->ReadBytes(table.symbols.data(), count);

        AssignCanonicalCodes(tableClass, tableIndex, table.bits, table.symbols.data(), count);
        if (IsCompleteTable(tableClass, table.symbols.data(), count)) {
            outputLength += 17 + static_cast<std::uint32_t>(count);
        } else {
            complete = false;
            outputLength += 17 + (tableClass == 0 ? kCompleteDcCount : kCompleteAcCount);
        }
        tables.push_back(std::move(table));
    }
    if (outputLength > 0xFFFF) {
        Refuse(kMsgDhtTooLarge);
        return false;
    }
    OutBits->WriteWord(0xFFC4);
    OutBits->WriteWord(static_cast<std::uint16_t>(outputLength));
    for (const TDhtTable& table : tables) {
        OutBits->WriteByte(table.classAndIndex);
        if (IsCompleteTable(table.classAndIndex >> 4, table.symbols.data(),
                            static_cast<int>(table.symbols.size()))) {
            OutBits->WriteBytes(table.bits, 16);
            OutBits->WriteBytes(table.symbols.data(), static_cast<std::int32_t>(table.symbols.size()));
        } else {
            WriteStandardHuffmanBody(table.classAndIndex >> 4, table.classAndIndex & 15);
        }
    }
    return complete;
}

void TJpegRotation::WriteStandardHuffmanBody(int tableClass, int tableIndex) {
    for (int l = 1; l <= 16; ++l)
        OutBits->WriteByte(static_cast<std::uint8_t>(StdHuffBits[tableClass][tableIndex][l]));
    if (tableClass == 0) {
        for (std::uint16_t symbol : StdDcSymbols[tableIndex]) OutBits->WriteByte(static_cast<std::uint8_t>(symbol));
    } else {
        for (std::uint16_t symbol : StdAcSymbols[tableIndex]) OutBits->WriteByte(static_cast<std::uint8_t>(symbol));
    }
}

void TJpegRotation::ReadSos() {
    std::uint16_t length = 0;
    ReadSegmentLength(length);
    if (Refused()) return;
    if (!header_.frameSeen) return Refuse(kMsgSosBeforeSof);
    const std::uint8_t count = InBits->ReadByte();
    if (count != header_.componentCount || count > 4) return Refuse(kMsgNotOneInterleavedScan);
    std::uint8_t ids[4];
    std::copy_n(header_.componentIds, count, ids);
    std::sort(ids, ids + count);
    for (int i = 0; i < count; ++i) {
        const std::uint8_t id = InBits->ReadByte();
        const std::uint8_t tables = InBits->ReadByte();
        if (id != ids[i]) return Refuse(kMsgNotOneInterleavedScan);
        if ((tables >> 4) > 1 || (tables & 15) > 1) return Refuse(kMsgHuffmanTableId);
        DcSelector[id] = tables >> 4;
        AcSelector[id] = tables & 15;
    }
    InBits->ReadByte();  // Ss
    InBits->ReadByte();  // Se
    InBits->ReadByte();  // Ah, Al
}

void TJpegRotation::ReadDri() {
    std::uint16_t length = 0;
    ReadSegmentLength(length);
    if (Refused()) return;
    HasRestart = true;
    RestartInterval = InBits->ReadWord();
}

void TJpegRotation::TransposeBlock(std::uint8_t (&values)[64]) {
    std::uint8_t copy[64];
    std::copy(std::begin(values), std::end(values), copy);
    for (int k = 0; k < 64; ++k) values[k] = copy[kTranspose[k]];
}

void TJpegRotation::TransposeBlock(TCoefBlock& block) {
    const TCoefBlock copy = block;
    for (int k = 0; k < 64; ++k) block[k] = copy[kTranspose[k]];
}

}  // namespace plume
