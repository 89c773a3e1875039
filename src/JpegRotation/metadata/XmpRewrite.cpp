// What a turn changes in an XMP packet, and the item lengths of the Google
// container directory that an Ultra HDR file uses to locate its gain map.
#include "JpegRotation/metadata/XmpRewrite.h"

#include <cstring>

#include "JpegRotation/metadata/XmpPacket.h"

namespace plume {

namespace {

std::string_view PacketText(const std::uint8_t* packet, std::size_t size) {
    return {reinterpret_cast<const char*>(packet), size};
}

const TXmpValue* FirstTopLevel(const TXmpLayout& layout, std::string_view uri,
                               std::string_view name) {
    for (const TXmpValue& value : layout.values)
        if (value.topLevel && value.uri == uri && value.name == name) return &value;
    return nullptr;
}

// A decimal number of at most 19 digits, which cannot overflow.
std::optional<std::uint64_t> Number(const TXmpValue& value, std::string_view text) {
    if (!value.IsNumber(text) || value.size > 19) return std::nullopt;
    std::uint64_t number = 0;
    for (const char digit : value.Text(text))
        number = number * 10 + static_cast<unsigned>(digit - '0');
    return number;
}

const TXmpValue* ItemValue(const TXmpLayout& layout, std::size_t item, std::string_view name) {
    for (const TXmpValue& value : layout.values)
        if (value.item == static_cast<int>(item) && value.uri == kContainerItemNamespace &&
            value.name == name)
            return &value;
    return nullptr;
}

}  // namespace

std::size_t XmpPacketStart(const std::uint8_t* body, std::size_t size) {
    const bool xmp =
        size >= kXmpIdentifierSize && std::memcmp(body, kXmpIdentifier, kXmpIdentifierSize) == 0;
    return xmp ? kXmpIdentifierSize : 0;
}

bool RewriteXmpPacket(std::uint8_t* packet, std::size_t size, const TXmpTurn& turn) {
    const bool exchange = turn.exchangeDimensions;
    if (!turn.uprightOrientation && !exchange && !turn.width && !turn.height) return true;
    const std::string_view text = PacketText(packet, size);
    const auto layout = ReadXmpLayout(text);
    if (!layout) return false;
    TXmpEditPlan plan(*layout);
    bool allMade = true;
    if (turn.uprightOrientation) {
        // The digit never changes length, so this always fits.
        for (const TXmpValue& value : layout->values)
            if (value.topLevel && value.uri == kTiffNamespace && value.name == "Orientation" &&
                value.IsNumber(text) && value.Text(text) != "1")
                allMade = plan.Add({{value.start, value.size, "1"}}) && allMade;
    }
    struct TPair {
        std::string_view uri, width, height;
    };
    for (const TPair& pair : {TPair{kTiffNamespace, "ImageWidth", "ImageLength"},
                              TPair{kExifNamespace, "PixelXDimension", "PixelYDimension"}}) {
        const TXmpValue* w = FirstTopLevel(*layout, pair.uri, pair.width);
        const TXmpValue* h = FirstTopLevel(*layout, pair.uri, pair.height);
        if (w && !w->IsNumber(text)) w = nullptr;
        if (h && !h->IsNumber(text)) h = nullptr;
        // An exchange needs both; a trimmed size is recorded where it is given.
        if (exchange && (!w || !h)) continue;
        std::vector<TXmpEdit> group;
        if (w && (exchange || turn.width))
            group.push_back(
                {w->start, w->size,
                 turn.width ? std::to_string(*turn.width) : std::string(h->Text(text))});
        if (h && (exchange || turn.height))
            group.push_back(
                {h->start, h->size,
                 turn.height ? std::to_string(*turn.height) : std::string(w->Text(text))});
        if (!group.empty()) allMade = plan.Add(std::move(group)) && allMade;
    }
    plan.Apply(packet, size);
    return allMade;
}

std::vector<TContainerItem> ReadContainerItems(const std::uint8_t* packet, std::size_t size) {
    const std::string_view text = PacketText(packet, size);
    const auto layout = ReadXmpLayout(text);
    if (!layout) return {};
    std::vector<TContainerItem> items(static_cast<std::size_t>(layout->itemCount));
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (const TXmpValue* semantic = ItemValue(*layout, i, "Semantic"))
            items[i].semantic = std::string(semantic->Text(text));
        if (const TXmpValue* length = ItemValue(*layout, i, "Length"))
            items[i].length = Number(*length, text);
        if (const TXmpValue* padding = ItemValue(*layout, i, "Padding"))
            items[i].padding = Number(*padding, text).value_or(0);
    }
    return items;
}

bool SetContainerItemLengths(std::uint8_t* packet, std::size_t size,
                             const std::vector<std::pair<std::size_t, std::uint64_t>>& lengths) {
    const std::string_view text = PacketText(packet, size);
    const auto layout = ReadXmpLayout(text);
    if (!layout) return false;
    std::vector<TXmpEdit> group;
    for (const auto& [item, length] : lengths) {
        const TXmpValue* value = ItemValue(*layout, item, "Length");
        if (!value || !value->IsNumber(text)) return false;
        group.push_back({value->start, value->size, std::to_string(length)});
    }
    TXmpEditPlan plan(*layout);
    if (!plan.Add(std::move(group))) return false;
    plan.Apply(packet, size);
    return true;
}

}  // namespace plume
