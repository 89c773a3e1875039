// The segment handlers note where these lie as they copy them; the bytes
// after the scan are written here, and the notes are acted on once the whole
// output exists, since a packet may come before the EXIF segment whose
// rewrite decides its orientation, and the container's lengths are known only
// after the secondary images are turned.
#include "JpegRotation/metadata/AfterScan.h"

#include <algorithm>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/metadata/XmpRewrite.h"

namespace plume {
namespace {

constexpr std::string_view kGainMapSemantic = "GainMap";

// A large thumbnail follows the EXIF thumbnail's rule: sideways only when the
// host allows leaving DCF. Every other secondary image (gain map, depth or
// disparity map) only means something aligned with the primary, so it turns
// with it. An image that cannot be turned is kept as it is.
std::optional<std::vector<std::uint8_t>> TurnSecondary(const TAfterScan& pass,
                                                       const std::uint8_t* image, std::size_t size,
                                                       std::uint32_t attribute) {
    if (IsLargeThumbnail(attribute) && ExchangesDimensions(pass.turn) && !pass.allowBreakDCF)
        return std::nullopt;
    std::optional<TTurnedImage> turned = pass.turnImage(image, size);
    if (!turned) return std::nullopt;
    return std::move(turned->bytes);
}

// The container directory locates each item after the primary by the
// lengths and paddings of the items before it. Each item that names a
// secondary image exactly (same start, same size) takes the image's new
// length. A gain map that the directory locates must have turned with the
// primary and must stay reachable; otherwise the pass fails.
bool KeepContainerTrue(const TAfterScan& pass, const std::vector<TSecondaryImage>& images,
                       std::size_t primaryEnd, std::size_t inputSize,
                       std::vector<std::uint8_t>& output, TPassEvents& events) {
    for (const TXmpPlace& packet : pass.notes.xmp) {
        std::uint8_t* data = output.data() + packet.start;
        const std::vector<TContainerItem> items = ReadContainerItems(data, packet.size);
        if (items.size() < 2) continue;
        std::vector<std::pair<std::size_t, std::uint64_t>> lengths;
        std::uint64_t at = std::uint64_t{primaryEnd} + items.front().padding;
        for (std::size_t k = 1; k < items.size() && items[k].length; ++k) {
            const std::uint64_t length = *items[k].length;
            const auto image = std::find_if(images.begin(), images.end(), [&](const auto& i) {
                return i.inStart == at && i.inSize == length;
            });
            if (image != images.end() && image->outSize != image->inSize)
                lengths.emplace_back(k, image->outSize);
            const bool located = at <= inputSize && length <= inputSize - at;
            const bool aligned =
                pass.turn == TTurn::None || (image != images.end() && image->turned);
            if (items[k].semantic == kGainMapSemantic && located && !aligned) {
                events.Error(kMsgGainMapNotTurned);
                return false;
            }
            if (at > inputSize) break;
            at += length + std::min<std::uint64_t>(items[k].padding, inputSize);
        }
        if (!lengths.empty() && !SetContainerItemLengths(data, packet.size, lengths)) {
            events.Error(kMsgGainMapLength);
            return false;
        }
    }
    return true;
}

}  // namespace

bool WriteAfterScan(const TAfterScan& pass, const std::uint8_t* input, std::size_t inputSize,
                    std::size_t scanEnd, std::vector<std::uint8_t>& output, TPassEvents& events,
                    int& xmpPacketsLeft) {
    std::vector<TSecondaryImage> images;
    const auto primaryEnd = pass.nested ? std::nullopt : PrimaryEnd(input, inputSize, scanEnd);
    if (primaryEnd && pass.notes.multiPicture) {
        output.insert(output.end(), input + scanEnd, input + *primaryEnd);
        TMultiPicturePlace place = *pass.notes.multiPicture;
        place.primaryEnd = *primaryEnd;
        images = RewriteMultiPicture(
            input, inputSize, place, output,
            [&pass](const std::uint8_t* image, std::size_t size, std::uint32_t attribute) {
                return TurnSecondary(pass, image, size, attribute);
            });
    } else if (scanEnd < inputSize) {
        // Normally EOI, and whatever trails it, unchanged.
        output.insert(output.end(), input + scanEnd, input + inputSize);
    }
    if (primaryEnd && !KeepContainerTrue(pass, images, *primaryEnd, inputSize, output, events))
        return false;
    TXmpTurn turn;
    turn.uprightOrientation = pass.notes.orientationUpright;
    turn.exchangeDimensions = ExchangesDimensions(pass.turn);
    // As in the EXIF pixel dimensions: the size that the trim gave the frame.
    if (pass.trim.firstColumn != 0) turn.width = static_cast<std::uint32_t>(pass.trim.width);
    if (pass.trim.firstRow != 0) turn.height = static_cast<std::uint32_t>(pass.trim.height);
    xmpPacketsLeft = 0;
    for (const TXmpPlace& packet : pass.notes.xmp)
        if (!RewriteXmpPacket(output.data() + packet.start, packet.size, turn)) ++xmpPacketsLeft;
    return true;
}

}  // namespace plume
