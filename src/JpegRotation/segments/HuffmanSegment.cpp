#include "JpegRotation/segments/HuffmanSegment.h"

#include <vector>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/entropy/StandardTables.h"

namespace plume {
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
    int Class() const { return classAndIndex >> 4; }
    int Index() const { return classAndIndex & 15; }
    bool Complete() const {
        return IsCompleteTable(Class(), symbols.data(), static_cast<int>(symbols.size()));
    }
};

void WriteStandardBody(TOutBitStreamFile& out, int tableClass, int tableIndex) {
    const THuffmanRecord annex = AnnexKRecord(tableClass, tableIndex);
    std::uint8_t bits[16] = {};
    for (const std::int32_t length : annex.lengths) ++bits[length - 1];
    out.WriteBytes(bits, 16);
    for (const std::int32_t symbol : annex.symbols)
        out.WriteByte(static_cast<std::uint8_t>(symbol));
}

}  // namespace

bool RewriteDht(TSegmentIo& io, std::uint16_t length, const TDhtRules& rules,
                THuffmanRecords& records, bool& complete) {
    const int lastIndex = rules.anyJpeg ? kTableIndexes - 1 : 1;
    int remaining = length - 2;
    std::uint32_t outputLength = 2;
    std::vector<TDhtTable> tables;
    while (remaining > 0) {
        if (remaining < 17) return io.Refuse(kMsgDhtLength);
        TDhtTable table{};
        table.classAndIndex = io.in.ReadByte();
        if (table.Class() > 1 || table.Index() > lastIndex) return io.Refuse(kMsgHuffmanTableId);
        io.in.ReadBytes(table.bits, 16);
        int count = 0;
        for (std::uint8_t b : table.bits) count += b;
        if (count > 256 || !CountsFitCodeSpace(table.bits)) return io.Refuse(kMsgHuffmanCounts);
        if (remaining - 17 < count) return io.Refuse(kMsgDhtLength);
        remaining -= 17 + count;
        table.symbols.resize(static_cast<std::size_t>(count));
        io.in.ReadBytes(table.symbols.data(), count);

        // A later definition of the same class and index replaces an earlier one.
        records[table.Class()][table.Index()] =
            CanonicalRecord(table.bits, table.symbols.data(), count);
        if (table.Complete()) {
            outputLength += 17 + static_cast<std::uint32_t>(count);
        } else {
            complete = false;
            outputLength += 17 + (table.Class() == 0 ? kCompleteDcCount : kCompleteAcCount);
        }
        tables.push_back(std::move(table));
    }
    if (!rules.kept) return true;
    if (outputLength > 0xFFFF) return io.Refuse(kMsgDhtTooLarge);
    if (!rules.write) return true;
    io.out.WriteWord(kDHT);
    io.out.WriteWord(static_cast<std::uint16_t>(outputLength));
    for (const TDhtTable& table : tables) {
        io.out.WriteByte(table.classAndIndex);
        if (table.Complete()) {
            io.out.WriteBytes(table.bits, 16);
            io.out.WriteBytes(table.symbols.data(),
                              static_cast<std::int32_t>(table.symbols.size()));
        } else {
            WriteStandardBody(io.out, table.Class(), table.Index());
        }
    }
    return true;
}

}  // namespace plume
