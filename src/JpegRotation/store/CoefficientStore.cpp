#include "JpegRotation/store/CoefficientStore.h"

#include <new>

namespace plume {
namespace {

std::uint64_t WideKey(std::size_t block, int k) {
    return std::uint64_t{block} * 64 + static_cast<std::uint64_t>(k);
}

}  // namespace

std::int32_t TStoredComponent::Wide(std::size_t block, int k) const {
    const auto found = wide_.find(WideKey(block, k));
    return found != wide_.end() ? found->second : 0;
}

void TStoredComponent::SetWide(std::size_t block, int k, std::int32_t value) {
    ac[block * 64 + static_cast<std::size_t>(k)] = kWideCoefficient;
    wide_[WideKey(block, k)] = static_cast<std::int16_t>(value);
}

TCoefficientStore::TCoefficientStore(const TOutputGeometry& output, const TAdvise& advise) {
    std::size_t blocks = 0;
    for (int s = 0; s < kSlots; ++s) blocks += output.width[s] * output.height[s];
    // calloc hands a large block over as fresh pages, which the system
    // clears as they are first touched, so nothing clears them twice. The
    // frame header was held to the memory cap before this.
    const std::size_t bytes = blocks * (64 + sizeof(std::int16_t));
    memory_.reset(std::calloc(bytes == 0 ? 1 : bytes, 1));
    if (!memory_) throw std::bad_alloc();
    if (advise) advise(memory_.get(), bytes);
    auto* ac = static_cast<std::int8_t*>(memory_.get());
    auto* dc = reinterpret_cast<std::int16_t*>(ac + blocks * 64);
    for (int s = 0; s < kSlots; ++s) {
        TStoredComponent& component = components_[s];
        component.width = output.width[s];
        component.height = output.height[s];
        component.ac = ac;
        component.dc = dc;
        ac += component.Blocks() * 64;
        dc += component.Blocks();
    }
}

TBlockPlacement PlacementOf(const TFrame& frame, int slot, TTurn turn) {
    const std::int64_t width = frame.McusPerRow() * frame.slot[slot].h;
    const std::int64_t height = frame.McuRows() * frame.slot[slot].v;
    const std::int64_t outputWidth = ExchangesDimensions(turn) ? height : width;
    const auto index = [&](std::int64_t x, std::int64_t y) {
        const TGridPoint point = Turned(turn, x, y, width, height);
        return point.y * outputWidth + point.x;
    };
    TBlockPlacement placement;
    placement.origin = index(0, 0);
    placement.stepX = index(1, 0) - placement.origin;
    placement.stepY = index(0, 1) - placement.origin;
    placement.map = &BlockScatter(turn);
    return placement;
}

}  // namespace plume
