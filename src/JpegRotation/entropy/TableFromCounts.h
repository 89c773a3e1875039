// Huffman tables made for the symbols a scan codes, from how often each
// occurs (T.81 K.2): the shortest codes for the most frequent symbols, no
// code longer than 16 bits and none of all 1-bits; and the DHT segment that
// gives them.
#pragma once

#include <cstdint>
#include <vector>

#include "JpegRotation/entropy/HuffmanCoding.h"

namespace plume {

// A table as a DHT segment gives it (T.81 B.2.4.2): BITS, the codes of each
// length 1 to 16, and HUFFVAL, the symbols in order of code length.
struct TTableSpec {
    std::uint8_t bits[16] = {};
    std::vector<std::uint8_t> symbols;
};

// counts: how often each symbol 0 to 255 occurs; a symbol that does not
// occur gets no code. No symbol at all gives an empty table.
TTableSpec TableFromCounts(const std::uint32_t (&counts)[256]);

// How often each symbol occurs in a scan, per class and table selector.
struct TSymbolCounts {
    std::uint32_t dc[4][256] = {};
    std::uint32_t ac[4][256] = {};
    void Add(const TSymbolCounts& other);
};

// The tables of every selector a scan's counts use, as the DHT segment
// gives them and as the coder takes them.
struct TMadeTables {
    TTableSpec definitions[2][4];
    THuffmanEncodeTable dc[4], ac[4];
};
void MakeTables(const TSymbolCounts& counts, TMadeTables& tables);
// Appends a DHT segment of the tables that have symbols; nothing when none has.
void AppendDht(const TMadeTables& tables, std::vector<std::uint8_t>& out);

}  // namespace plume
