// The sink of DecodeBlockInto (BlockDecoder.h) that decodes a block of a
// sequential scan straight into the coefficient store, each coefficient at
// the place and with the sign the turn gives it; short codes come with their
// value bits by one lookup, two at a time where they fit (BlockSinks.h).
#pragma once

#include <cstdint>

#include "JpegRotation/entropy/BlockDecoder.h"
#include "JpegRotation/entropy/BlockSinks.h"
#include "JpegRotation/store/CoefficientStore.h"

namespace plume {

// The shortcuts of one input AC table, their payload the coefficient's value.
struct TStoreShortcuts {
    TShortcutTable shortcuts;
    TPairTable pairs;

    void Build(const THuffmanDecodeTable& table) {
        pairs.Build(table, nullptr);
        shortcuts.Build(table, [](int, int size, std::uint32_t value) {
            return static_cast<std::uint64_t>(static_cast<std::uint16_t>(Extend(value, size))) |
                   kValueFlag;
        });
    }
    static constexpr std::uint64_t kValueFlag = std::uint64_t{1} << 16;
    static std::int32_t Value(std::uint64_t payload) {
        return static_cast<std::int16_t>(payload & 0xFFFF);
    }
};

struct TStoreSink {
    TStoredComponent& component;
    std::size_t block;
    const TBlockScatter& map;
    const TStoreShortcuts& tables;
    std::int8_t* bytes = component.ac + block * 64;

    void Begin() {}
    void Dc(std::int32_t value) { component.dc[block] = static_cast<std::int16_t>(value); }
    void Put(int k, std::uint32_t bits, int size) { Store(k, Extend(bits, size)); }
    void Store(int k, std::int32_t value) {
        const auto flip = static_cast<std::int32_t>(map.Flip[k]);
        value = (value ^ flip) - flip;
        if (static_cast<std::uint32_t>(value + 127) <= 254) [[likely]]
            bytes[map.Target[k]] = static_cast<std::int8_t>(value);
        else
            component.SetAc(block, map.Target[k], value);
    }
    // One coefficient, or two, or a coefficient and the end of block, by
    // one lookup (BlockDecoder.h: 1 for a coefficient before position 63, 2
    // at an end of block, 0 to leave the code to the decoder).
    int Shortcut(TScanReader::TCursor& cursor, int& k) {
        if (const int taken =
                TakePair(tables.pairs, cursor, k,
                         [this](int at, std::uint32_t value, int size) { Put(at, value, size); }))
            return taken;
        std::uint64_t found;
        const int taken = tables.shortcuts.Take(cursor, k, true, found);
        if (taken != 1) return taken;
        Store(k, TStoreShortcuts::Value(TShortcutTable::Payload(found)));
        ++k;
        return 1;
    }
};

}  // namespace plume
