#include "JpegRotation/entropy/TableFromCounts.h"

#include <algorithm>

#include "JpegRotation/entropy/HuffmanTables.h"

namespace plume {

TTableSpec TableFromCounts(const std::uint32_t (&counts)[256]) {
    // Symbol 256 stands for the code of all 1-bits, which no symbol may
    // have: it takes part once and is dropped at the end (T.81 K.2).
    constexpr int kSymbols = 257;
    std::uint64_t frequency[kSymbols];
    for (int v = 0; v < 256; ++v) frequency[v] = counts[v];
    frequency[256] = 1;
    int codeSize[kSymbols] = {};
    int others[kSymbols];
    std::fill(std::begin(others), std::end(others), -1);

    // Figure K.1: join the two least frequent trees until one is left; on
    // equal frequencies the larger symbol goes first, so that the reserved
    // one ends with a longest code.
    for (;;) {
        int v1 = -1, v2 = -1;
        for (int v = 0; v < kSymbols; ++v)
            if (frequency[v] > 0 && (v1 < 0 || frequency[v] <= frequency[v1])) v1 = v;
        for (int v = 0; v < kSymbols; ++v)
            if (frequency[v] > 0 && v != v1 && (v2 < 0 || frequency[v] <= frequency[v2])) v2 = v;
        if (v2 < 0) break;
        frequency[v1] += frequency[v2];
        frequency[v2] = 0;
        int v = v1;
        for (++codeSize[v]; others[v] >= 0; ++codeSize[v]) v = others[v];
        others[v] = v2;
        for (v = v2, ++codeSize[v]; others[v] >= 0; ++codeSize[v]) v = others[v];
    }

    // Figure K.2: the codes of each size; a tree over 257 symbols is at most
    // 256 deep.
    int bits[257] = {};
    for (int v = 0; v < kSymbols; ++v)
        if (codeSize[v] > 0) ++bits[codeSize[v]];

    // Figure K.3: no code longer than 16 bits. Two codes of the longest size
    // become one a size shorter, and a code of a shorter size J becomes two
    // of size J + 1.
    for (int i = 256; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0) --j;
            bits[i] -= 2;
            bits[i - 1] += 1;
            bits[j + 1] += 2;
            bits[j] -= 1;
        }
    }
    // The reserved code leaves, taking one of the longest.
    int longest = 16;
    while (longest > 0 && bits[longest] == 0) --longest;
    if (longest > 0) bits[longest] -= 1;

    // Figure K.4: the symbols in order of code size, each size by symbol.
    TTableSpec definition;
    if (longest == 0) return definition;
    for (int size = 1; size <= 16; ++size)
        definition.bits[size - 1] = static_cast<std::uint8_t>(bits[size]);
    for (int size = 1; size < kSymbols; ++size)
        for (int v = 0; v < 256; ++v)
            if (codeSize[v] == size) definition.symbols.push_back(static_cast<std::uint8_t>(v));
    return definition;
}

void TSymbolCounts::Add(const TSymbolCounts& other) {
    for (int t = 0; t < 4; ++t)
        for (int symbol = 0; symbol < 256; ++symbol) {
            dc[t][symbol] += other.dc[t][symbol];
            ac[t][symbol] += other.ac[t][symbol];
        }
}

void MakeTables(const TSymbolCounts& counts, TMadeTables& tables) {
    const auto build = [](const std::uint32_t(&counted)[256], TTableSpec& definition,
                          THuffmanEncodeTable& table) {
        definition = TableFromCounts(counted);
        BuildEncodeTable(CanonicalRecord(definition.bits, definition.symbols.data(),
                                         static_cast<int>(definition.symbols.size())),
                         table);
    };
    for (int t = 0; t < 4; ++t) {
        build(counts.dc[t], tables.definitions[0][t], tables.dc[t]);
        build(counts.ac[t], tables.definitions[1][t], tables.ac[t]);
    }
}

void AppendDht(const TMadeTables& tables, std::vector<std::uint8_t>& out) {
    std::uint32_t length = 2;
    for (const auto& ofClass : tables.definitions)
        for (const TTableSpec& table : ofClass)
            if (!table.symbols.empty())
                length += 17 + static_cast<std::uint32_t>(table.symbols.size());
    if (length == 2) return;
    const std::uint8_t header[] = {0xFF, 0xC4, static_cast<std::uint8_t>(length >> 8),
                                   static_cast<std::uint8_t>(length)};
    out.insert(out.end(), std::begin(header), std::end(header));
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 4; ++t) {
            const TTableSpec& table = tables.definitions[c][t];
            if (table.symbols.empty()) continue;
            out.push_back(static_cast<std::uint8_t>(c << 4 | t));
            out.insert(out.end(), std::begin(table.bits), std::end(table.bits));
            out.insert(out.end(), table.symbols.begin(), table.symbols.end());
        }
}

}  // namespace plume
