// One raster of quantised DCT blocks per component slot. The store is sized
// without zero-filling: the scan decoder overwrites every block it holds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace plume {

// 64 quantised coefficients of one 8x8 block in zigzag order; position 0 is
// the DC value itself, the prediction already undone.
using TCoefBlock = std::array<std::int16_t, 64>;

class TCoefRaster {
public:
    // Keeps the blocks when the size does not change; new blocks are not initialised.
    void Resize(std::size_t blocks) {
        if (blocks == size_) return;
        data_ = std::make_unique_for_overwrite<TCoefBlock[]>(blocks);
        size_ = blocks;
    }
    std::size_t Size() const { return size_; }
    TCoefBlock& operator[](std::size_t i) { return data_[i]; }
    const TCoefBlock& operator[](std::size_t i) const { return data_[i]; }
    TCoefBlock* Data() { return data_.get(); }

private:
    std::unique_ptr<TCoefBlock[]> data_;
    std::size_t size_ = 0;
};

}  // namespace plume
