#include "JpegRotation/scan/McuPlan.h"

#include <algorithm>

namespace plume {

TMcuPlan MakePlan(const TFrame& frame, const TCodingTables& tables) {
    TMcuPlan plan;
    for (int s = 0; s < kSlots; ++s) {
        const TSlot& slot = frame.slot[s];
        plan.dc[s] = &tables.decode[0][slot.dcTable];
        plan.ac[s] = &tables.decode[1][slot.acTable];
        if (!slot.Present()) continue;
        for (int b = 0; b < slot.Blocks(); ++b)
            plan.slot[plan.blockCount++] = static_cast<std::uint8_t>(s);
    }
    plan.restartInterval = frame.restartInterval;
    return plan;
}

TMcuLayout TurnedMcuLayout(const TOutputGeometry& output, TTurn turn) {
    TMcuLayout layout;
    const bool exchanged = ExchangesDimensions(turn);
    int offset = 0, b = 0;
    for (int s = 0; s < kSlots; ++s) {
        const int h = output.h[s], v = output.v[s];
        layout.offset[s] = offset;
        layout.h[s] = std::max(h, 1);
        layout.v[s] = std::max(v, 1);
        // Input block (row r, column c) of the MCU, in decoding order.
        const int inputH = exchanged ? v : h, inputV = exchanged ? h : v;
        for (int r = 0; r < inputV; ++r)
            for (int c = 0; c < inputH; ++c) {
                const TGridPoint local = Turned(turn, c, r, inputH, inputV);
                layout.target[b++] = static_cast<std::uint8_t>(offset + local.y * h + local.x);
            }
        offset += h * v;
    }
    return layout;
}

}  // namespace plume
