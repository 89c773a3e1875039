// The XMP packet rewrite on whole packets: the input is the packet as an APP1
// segment would hold it after its identifier. Its size chooses what the turn
// changes (bits 0 to 3: orientation, exchange, a trimmed width and height)
// and, when the packet has a container directory, which item takes which new
// Item:Length (the rest).
//
// Checked: the rewrite never changes a packet this reader does not find
// well-formed. In one it reads, nothing moves but values and padding: the
// packet with its values and its padding left out is the same before and
// after, the bytes from the padding's end on are the same, and the same
// properties are read in the same order. A value changes only as the turn
// asks: a top-level tiff:Orientation to 1 (always, where the padding can take
// the change), and the first top-level pair of sizes exchanged as a pair
// (always when their lengths are equal). The packet read again is
// well-formed, since only decimal digits and padding whitespace changed. A
// container length that was set reads back with the others unchanged, and a
// refused one leaves the packet as it was.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "JpegRotation/metadata/XmpPacket.h"
#include "JpegRotation/metadata/XmpRewrite.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The packet without its values and its padding, a NUL where each value was.
std::string Skeleton(const std::string& packet, const plume::TXmpLayout& layout) {
    std::vector<const plume::TXmpValue*> values;
    for (const plume::TXmpValue& value : layout.values) values.push_back(&value);
    std::sort(values.begin(), values.end(), [](auto* a, auto* b) { return a->start < b->start; });
    std::string skeleton;
    std::size_t at = 0;
    for (const plume::TXmpValue* value : values) {
        Check(value->start >= at && value->start + value->size <= layout.paddingStart);
        skeleton.append(packet, at, value->start - at);
        skeleton.push_back('\0');
        at = value->start + value->size;
    }
    skeleton.append(packet, at, layout.paddingStart - at);
    skeleton.append(packet, layout.paddingEnd);
    return skeleton;
}

bool IsDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The first top-level value of this property, as FirstTopLevel in the rewrite.
int FirstTopLevel(const plume::TXmpLayout& layout, std::string_view uri, std::string_view name) {
    for (std::size_t i = 0; i < layout.values.size(); ++i)
        if (layout.values[i].topLevel && layout.values[i].uri == uri &&
            layout.values[i].name == name)
            return static_cast<int>(i);
    return -1;
}

// Every value of after is that of before, or changed as the turn asks.
void CheckValues(const std::string& before, const plume::TXmpLayout& old, const std::string& after,
                 const plume::TXmpLayout& now, const plume::TXmpTurn& turn) {
    Check(now.values.size() == old.values.size() && now.paddingEnd == old.paddingEnd &&
          now.hasTrailer == old.hasTrailer && now.itemCount == old.itemCount);
    const auto text = [](const std::string& packet, const plume::TXmpValue& value) {
        return std::string_view(packet).substr(value.start, value.size);
    };
    std::vector<bool> paired(old.values.size(), false);
    struct TPair {
        std::string_view uri, first, second;
    };
    for (const TPair& pair : {TPair{plume::kTiffNamespace, "ImageWidth", "ImageLength"},
                              TPair{plume::kExifNamespace, "PixelXDimension", "PixelYDimension"}}) {
        const int a = FirstTopLevel(old, pair.uri, pair.first);
        const int b = FirstTopLevel(old, pair.uri, pair.second);
        if (turn.width || turn.height) {
            // A trimmed size may replace either value, exchanged or not, and
            // is recorded even where the other value of the pair is missing.
            const auto value = [&](const std::string& packet, const plume::TXmpLayout& layout,
                                   int i) {
                return i < 0 ? std::string_view() : text(packet, layout.values[i]);
            };
            const bool asked = turn.exchangeDimensions && a >= 0 && b >= 0 &&
                               IsDigits(value(before, old, a)) && IsDigits(value(before, old, b));
            for (const auto& [i, other, size] :
                 {std::tuple{a, b, turn.width}, std::tuple{b, a, turn.height}}) {
                if (i < 0) continue;
                paired[i] = true;
                const std::string_view was = value(before, old, i), is = value(after, now, i);
                Check(is == was || (asked && is == value(before, old, other)) ||
                      (size && is == std::to_string(*size)));
            }
            continue;
        }
        if (a < 0 || b < 0) continue;
        const std::string_view a0 = text(before, old.values[a]), b0 = text(before, old.values[b]);
        const std::string_view a1 = text(after, now.values[a]), b1 = text(after, now.values[b]);
        const bool asked = turn.exchangeDimensions && IsDigits(a0) && IsDigits(b0);
        const bool swapped = a1 == b0 && b1 == a0;
        const bool kept = a1 == a0 && b1 == b0;
        Check(asked ? swapped || kept : kept);
        paired[a] = paired[b] = true;
        if (asked && a0.size() == b0.size()) Check(swapped);
    }
    for (std::size_t i = 0; i < old.values.size(); ++i) {
        const plume::TXmpValue& o = old.values[i];
        const plume::TXmpValue& n = now.values[i];
        Check(o.uri == n.uri && o.name == n.name && o.topLevel == n.topLevel && o.item == n.item);
        if (paired[i]) continue;
        const std::string_view was = text(before, o), is = text(after, n);
        const bool orientation =
            o.topLevel && o.uri == plume::kTiffNamespace && o.name == "Orientation";
        if (orientation && turn.uprightOrientation && IsDigits(was)) {
            Check(is == "1" || is == was);
            if (old.hasTrailer || was.size() == 1) Check(is == "1");
        } else {
            Check(is == was);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string packet(reinterpret_cast<const char*>(data), size);
    auto* bytes = reinterpret_cast<std::uint8_t*>(packet.data());
    plume::TXmpTurn turn{(size & 1) != 0, (size & 2) != 0};
    if ((size & 4) != 0) turn.width = 992;  // a trimmed size
    if ((size & 8) != 0) turn.height = 1008;
    const std::string before = packet;
    const auto layout = plume::ReadXmpLayout(before);
    plume::RewriteXmpPacket(bytes, packet.size(), turn);
    if (!layout) {
        Check(packet == before);
        return 0;
    }
    const auto after = plume::ReadXmpLayout(packet);
    Check(after.has_value() && Skeleton(packet, *after) == Skeleton(before, *layout));
    CheckValues(before, *layout, packet, *after, turn);

    const auto items = plume::ReadContainerItems(bytes, packet.size());
    if (items.size() < 2) return 0;
    const std::string unset = packet;
    const std::size_t item = 1 + (size >> 4) % (items.size() - 1);
    const std::uint64_t length = std::uint64_t{size >> 4} * 997;
    if (plume::SetContainerItemLengths(bytes, packet.size(), {{item, length}})) {
        const auto set = plume::ReadXmpLayout(packet);
        Check(set.has_value() && Skeleton(packet, *set) == Skeleton(unset, *after));
        const auto changed = plume::ReadContainerItems(bytes, packet.size());
        Check(changed.size() == items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            Check(changed[i].semantic == items[i].semantic &&
                  changed[i].padding == items[i].padding);
            Check(changed[i].length == (i == item ? length : items[i].length));
        }
    } else {
        Check(packet == unset);
    }
    return 0;
}
