// What a pass keeps true beyond the frame it turns: the multi-picture index
// and the secondary images after the primary (CIPA DC-007), the XMP packets
// (tiff:Orientation, and the pixel dimensions exchanged or trimmed), and the
// item lengths of an Ultra HDR container directory, which locate the gain map.
//
// The segment handlers note where these lie as they copy them; the bytes
// after the scan are written here, and the notes are acted on once the whole
// output exists, since a packet may come before the EXIF segment whose
// rewrite decides its orientation, and the container's lengths are known only
// after the secondary images are turned.
#include <algorithm>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/XmpRewrite.h"

namespace plume {

namespace {

constexpr std::string_view kGainMapSemantic = "GainMap";

}  // namespace

void TJpegRotation::NoteApp2(std::size_t inLength, std::size_t outLength, std::size_t size) {
    if (nested_ || metadata_.multiPicture || size < 2 + kMpfIdentifierSize) return;
    const std::uint8_t* body = InBits->Stream().Memory() + inLength + 2;
    if (!std::equal(std::begin(kMpfIdentifier), std::end(kMpfIdentifier), body)) return;
    TMultiPicturePlace place;
    place.inBody = inLength + 2;
    place.bodySize = size - 2;
    place.outBody = outLength + 2;
    metadata_.multiPicture = place;
}

void TJpegRotation::NoteXmp(std::size_t outBody, const std::vector<std::uint8_t>& body) {
    const std::size_t start = XmpPacketStart(body.data(), body.size());
    if (start != 0) metadata_.xmp.push_back({outBody + start, body.size() - start});
}

// A large thumbnail follows the EXIF thumbnail's rule: sideways only when the
// host allows leaving DCF. Every other secondary image (gain map, depth or
// disparity map) only means something aligned with the primary, so it turns
// with it. An image the engine refuses is kept as it is.
std::optional<std::vector<std::uint8_t>> TJpegRotation::TurnSecondary(
    const std::uint8_t* image, std::size_t size, std::uint32_t attribute) const {
    if (IsLargeThumbnail(attribute) && ExchangesDimensions(Mode) && !AllowBreakDCF)
        return std::nullopt;
    TMemoryStream input(std::vector<std::uint8_t>(image, image + size));
    TMemoryStream output;
    TJpegRotation engine;  // default callbacks: its messages and progress go nowhere
    engine.nested_ = true;
    engine.AllowBreakDCF = AllowBreakDCF;
    engine.AllowParallelCoding = AllowParallelCoding;
    engine.AllowIntervalPass = AllowIntervalPass;
    engine.TrimPartialEdges = TrimPartialEdges;
    engine.ParallelMinBlocks = ParallelMinBlocks;
    engine.ThreadCount = ThreadCount;
    try {
        if (engine.ValidateJpeg(input) && engine.RotateJpeg(input, output, Mode))
            return std::move(output.Bytes());
    } catch (const EStreamError&) {
        // An image cut short is kept like any other the engine refuses.
    }
    return std::nullopt;
}

// The container directory locates each item after the primary by the
// lengths and paddings of the items before it. Each item that names a
// secondary image exactly (same start, same size) takes the image's new
// length. A gain map that the directory locates must have turned with the
// primary and must stay reachable; otherwise the pass fails.
bool TJpegRotation::KeepContainerTrue(const std::vector<TSecondaryImage>& images,
                                      std::size_t primaryEnd, std::size_t inputSize,
                                      std::vector<std::uint8_t>& output) {
    for (const TXmpPlace& packet : metadata_.xmp) {
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
            const bool aligned = Mode == kModeNone || (image != images.end() && image->turned);
            if (items[k].semantic == kGainMapSemantic && located && !aligned) {
                ReportError(kMsgGainMapNotTurned);
                return false;
            }
            if (at > inputSize) break;
            at += length + std::min<std::uint64_t>(items[k].padding, inputSize);
        }
        if (!lengths.empty() && !SetContainerItemLengths(data, packet.size, lengths)) {
            ReportError(kMsgGainMapLength);
            return false;
        }
    }
    return true;
}

bool TJpegRotation::WriteAfterScan(TMemoryStream& outStream) {
    const TMemoryStream& in = InBits->Stream();
    const std::uint8_t* input = in.Memory();
    const std::size_t scanEnd = in.Position();
    std::vector<std::uint8_t>& output = outStream.Bytes();
    std::vector<TSecondaryImage> images;
    const auto primaryEnd = nested_ ? std::nullopt : PrimaryEnd(input, in.Size(), scanEnd);
    if (primaryEnd && metadata_.multiPicture) {
        output.insert(output.end(), input + scanEnd, input + *primaryEnd);
        TMultiPicturePlace place = *metadata_.multiPicture;
        place.primaryEnd = *primaryEnd;
        images = RewriteMultiPicture(
            input, in.Size(), place, output,
            [this](const std::uint8_t* image, std::size_t size, std::uint32_t attribute) {
                return TurnSecondary(image, size, attribute);
            });
    } else if (scanEnd < in.Size()) {
        // Normally EOI, and whatever trails it, unchanged.
        output.insert(output.end(), input + scanEnd, input + in.Size());
    }
    if (primaryEnd && !KeepContainerTrue(images, *primaryEnd, in.Size(), output)) return false;
    TXmpTurn turn;
    turn.uprightOrientation = metadata_.orientationUpright;
    turn.exchangeDimensions = ExchangesDimensions(Mode);
    // As in the EXIF pixel dimensions: the size that TrimEdges gave the frame.
    if (trim_.firstColumn != 0) turn.width = static_cast<std::uint32_t>(trim_.width);
    if (trim_.firstRow != 0) turn.height = static_cast<std::uint32_t>(trim_.height);
    for (const TXmpPlace& packet : metadata_.xmp)
        RewriteXmpPacket(output.data() + packet.start, packet.size, turn);
    outStream.SetPosition(0);
    return true;
}

}  // namespace plume
