// The coefficient store: every quantised coefficient of a picture, for the
// files whose output cannot be coded as their scan is decoded (several
// scans, progressive frames, tables made from the output's symbol counts).
// Each block is stored where the turn puts it and with its coefficients in
// the output's zigzag order and signs, so that the scans that fill it and
// the scans written from it each walk it once, in their own order.
//
// A block takes 66 bytes: its DC value in 16 bits, its 63 AC coefficients in
// one byte each, since nearly all of them lie within -127 to 127; the rare
// one that does not is kept aside, its byte marked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <unordered_map>

#include "JpegRotation/frame/BlockTables.h"
#include "JpegRotation/frame/Frame.h"

namespace plume {

// The AC byte of a coefficient kept aside.
inline constexpr std::int8_t kWideCoefficient = -128;
// The largest magnitude a stored coefficient may have: -32768 has no size
// category (T.81 F.1.2.1), so no output could code it.
inline constexpr std::int32_t kMaxCoefficient = 32767;

// The blocks of one component, in the output's grid of whole MCUs, row by row.
class TStoredComponent {
  public:
    std::size_t width = 0, height = 0;  // blocks per row, block rows
    std::int16_t* dc = nullptr;
    std::int8_t* ac = nullptr;  // 64 bytes a block; byte 0 unused

    std::size_t Blocks() const { return width * height; }
    std::int32_t Ac(std::size_t block, int k) const {
        const std::int8_t value = ac[block * 64 + static_cast<std::size_t>(k)];
        return value != kWideCoefficient ? value : Wide(block, k);
    }
    // value: at most kMaxCoefficient in magnitude.
    void SetAc(std::size_t block, int k, std::int32_t value) {
        if (value > -128 && value < 128)
            ac[block * 64 + static_cast<std::size_t>(k)] = static_cast<std::int8_t>(value);
        else
            SetWide(block, k, value);
    }

  private:
    std::int32_t Wide(std::size_t block, int k) const;
    void SetWide(std::size_t block, int k, std::int32_t value);

    std::unordered_map<std::uint64_t, std::int16_t> wide_;
};

class TCoefficientStore {
  public:
    // Room for every block of the output grid of each slot, all zero: a
    // block that no scan codes stays zero, as a decoder leaves it. advise,
    // when given, hears of the memory before anything touches it. Throws
    // std::bad_alloc when the memory cannot be had.
    using TAdvise = std::function<void(void*, std::size_t)>;
    TCoefficientStore(const TOutputGeometry& output, const TAdvise& advise);

    TStoredComponent& operator[](int slot) { return components_[slot]; }
    const TStoredComponent& operator[](int slot) const { return components_[slot]; }

  private:
    struct TFree {
        void operator()(void* memory) const { std::free(memory); }
    };
    std::unique_ptr<void, TFree> memory_;
    TStoredComponent components_[kSlots];
};

// Where the blocks of one input component land in its stored component: the
// block at column x and row y of the input's grid of whole MCUs goes to
// block origin + x * stepX + y * stepY, its coefficient k to position
// map.Target[k], negated where map.Flip[k] is set (a turn is affine on the
// grid).
struct TBlockPlacement {
    std::int64_t origin = 0, stepX = 0, stepY = 0;
    const TBlockScatter* map = nullptr;

    std::size_t At(std::int64_t x, std::int64_t y) const {
        return static_cast<std::size_t>(origin + x * stepX + y * stepY);
    }
};
TBlockPlacement PlacementOf(const TFrame& frame, int slot, TTurn turn);

}  // namespace plume
