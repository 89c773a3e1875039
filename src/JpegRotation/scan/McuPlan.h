// The blocks of one MCU (T.81 A.2.3): in the order the scan codes them, with
// their tables, and where each lands in the MCU the turn makes of it.
#pragma once

#include <cstdint>

#include "JpegRotation/entropy/HuffmanTables.h"
#include "JpegRotation/frame/Frame.h"

namespace plume {

// The decoder's state at the start of one MCU: the bit position that
// TScanReader::BitPosition gives and the DC predictor of each slot.
struct TMcuStart {
    std::uint64_t bit;
    std::int16_t predictor[kSlots];
};

// The blocks of one MCU in decoding order: slot and tables.
struct TMcuPlan {
    static constexpr int kMaxBlocks = 64;  // 4 slots of at most 4 x 4 blocks
    int blockCount = 0;
    std::uint8_t slot[kMaxBlocks] = {};
    const THuffmanDecodeTable* dc[kSlots] = {};
    const THuffmanDecodeTable* ac[kSlots] = {};
    std::int32_t restartInterval = 0;  // 0: no restart markers
};
TMcuPlan MakePlan(const TFrame& frame, const TCodingTables& tables);

// Where the blocks of an input MCU go in the output MCU: block b, in
// decoding order, lands at target[b]; the output MCU holds the blocks of
// slot s from offset[s] on, h[s] to a row (at least 1 each way).
struct TMcuLayout {
    std::uint8_t target[TMcuPlan::kMaxBlocks] = {};
    int offset[kSlots] = {}, h[kSlots] = {}, v[kSlots] = {};
};
TMcuLayout TurnedMcuLayout(const TOutputGeometry& output, TTurn turn);

}  // namespace plume
