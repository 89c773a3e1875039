#include "JpegRotation/frame/ScanHeader.h"

#include <algorithm>
#include <iterator>

namespace plume {

TProgression::TProgression() {
    for (auto& component : bits_) std::fill(std::begin(component), std::end(component), kNever);
}

bool TProgression::Accept(TFrameKind kind, const TScanHeader& scan) {
    if (kind != TFrameKind::Progressive) {
        for (int i = 0; i < scan.count; ++i)
            if (bits_[scan.slot[i]][0] != kNever) return false;
        for (int i = 0; i < scan.count; ++i)
            std::fill(std::begin(bits_[scan.slot[i]]), std::end(bits_[scan.slot[i]]), 0);
        return true;
    }
    for (int i = 0; i < scan.count; ++i) {
        const std::int8_t* bits = bits_[scan.slot[i]];
        if (scan.ss > 0 && bits[0] == kNever) return false;  // AC before DC
        for (int k = scan.ss; k <= scan.se; ++k)
            if (bits[k] != (scan.Refinement() ? scan.ah : kNever)) return false;
    }
    for (int i = 0; i < scan.count; ++i)
        std::fill(bits_[scan.slot[i]] + scan.ss, bits_[scan.slot[i]] + scan.se + 1,
                  static_cast<std::int8_t>(scan.al));
    return true;
}

}  // namespace plume
