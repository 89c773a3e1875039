// A Huffman table made for the symbols a scan codes, from how often each
// occurs (T.81 K.2): the shortest codes for the most frequent symbols, no
// code longer than 16 bits and none of all 1-bits.
#pragma once

#include <cstdint>
#include <vector>

namespace plume {

// A table as a DHT segment gives it (T.81 B.2.4.2): BITS, the codes of each
// length 1 to 16, and HUFFVAL, the symbols in order of code length.
struct TTableSpec {
    std::uint8_t bits[16] = {};
    std::vector<std::uint8_t> symbols;
};

// counts: how often each symbol 0 to 255 occurs; a symbol that does not
// occur gets no code. At least one symbol must occur.
TTableSpec TableFromCounts(const std::uint32_t (&counts)[256]);

}  // namespace plume
