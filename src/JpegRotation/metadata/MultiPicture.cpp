// The MP Index IFD of a multi-picture file and the rewrite of the images after
// the primary (CIPA DC-007, 5.2). Every offset and count read from the file is
// checked against the segment or the file with 64-bit arithmetic before use.
#include "JpegRotation/metadata/MultiPicture.h"

#include <algorithm>

#include "JpegRotation/metadata/TiffLayout.h"

namespace plume {

namespace {

// MP Index IFD tags (DC-007, 5.2.3).
constexpr std::uint16_t kTagNumberOfImages = 0xB001;
constexpr std::uint16_t kTagMpEntry = 0xB002;
constexpr std::uint16_t kTypeUndefined = 7;
constexpr std::size_t kMpEntrySize = 16;
constexpr std::size_t kMpEntrySizeField = 4;
constexpr std::size_t kMpEntryOffsetField = 8;
constexpr std::uint64_t kMaxField = 0xFFFFFFFF;
constexpr std::uint8_t kEoiSecondByte = 0xD9;

}  // namespace

std::optional<TMpIndex> ReadMpIndex(const std::uint8_t* body, std::size_t size) {
    if (size < kMpfIdentifierSize + kTiffHeaderSize ||
        !std::equal(std::begin(kMpfIdentifier), std::end(kMpfIdentifier), body))
        return std::nullopt;
    // The MP header is a TIFF header: "II*\0" or "MM\0*", then the offset of
    // the MP Index IFD (DC-007, 5.2.2.2).
    const std::uint8_t* header = body + kMpfIdentifierSize;
    const bool little = header[0] == 'I' && header[1] == 'I';
    if (!little && !(header[0] == 'M' && header[1] == 'M')) return std::nullopt;
    // Read only: the view's writers are never called on it.
    const TTiffView view(const_cast<std::uint8_t*>(header), size - kMpfIdentifierSize, little);
    if (view.Word(2) != 42) return std::nullopt;
    const std::uint64_t ifd = view.Long(4);
    const auto ifdSize = view.IfdSize(ifd);
    if (!ifdSize || ifd < kTiffHeaderSize) return std::nullopt;

    std::optional<std::uint32_t> count;
    std::optional<std::size_t> entryTag;
    const std::size_t entries = view.Word(static_cast<std::size_t>(ifd));
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = static_cast<std::size_t>(ifd) + kIfdCountSize + i * kIfdEntrySize;
        const std::uint16_t tag = view.Word(entry);
        if (tag == kTagNumberOfImages && view.Word(entry + kEntryTypeOffset) == kTypeLong &&
            view.Long(entry + kEntryCountOffset) == 1)
            count = view.Long(entry + kEntryValueOffset);
        else if (tag == kTagMpEntry)
            entryTag = entry;
    }
    if (!count || !entryTag || *count == 0) return std::nullopt;
    const std::uint64_t blockSize = std::uint64_t{*count} * kMpEntrySize;
    if (view.Word(*entryTag + kEntryTypeOffset) != kTypeUndefined ||
        view.Long(*entryTag + kEntryCountOffset) != blockSize)
        return std::nullopt;
    const std::uint64_t block = view.Long(*entryTag + kEntryValueOffset);
    const bool overlapsIfd = block < ifd + *ifdSize && ifd < block + blockSize;
    if (!view.Fits(block, blockSize) || block < kTiffHeaderSize || overlapsIfd) return std::nullopt;

    TMpIndex index;
    index.littleEndian = little;
    index.entriesOffset = static_cast<std::size_t>(block);
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::size_t at = index.entriesOffset + i * kMpEntrySize;
        index.entries.push_back({view.Long(at), view.Long(at + kMpEntrySizeField),
                                 view.Long(at + kMpEntryOffsetField)});
    }
    return index;
}

std::optional<std::size_t> PrimaryEnd(const std::uint8_t* input, std::size_t inputSize,
                                      std::size_t scanEnd) {
    for (std::size_t at = scanEnd; at < inputSize && inputSize - at >= 2; ++at)
        if (input[at] == 0xFF && input[at + 1] == kEoiSecondByte) return at + 2;
    return std::nullopt;
}

namespace {

// The secondary images an index lists, in file order, or nothing when one of
// them is not where a secondary image can be.
std::optional<std::vector<TSecondaryImage>> LocateImages(const TMpIndex& index,
                                                         std::size_t inputSize,
                                                         const TMultiPicturePlace& place) {
    // The first entry is the primary, at offset 0 (DC-007, 5.2.3.3.3).
    if (index.entries.front().offset != 0) return std::nullopt;
    const std::uint64_t mpHeader = std::uint64_t{place.inBody} + kMpfIdentifierSize;
    std::vector<TSecondaryImage> images;
    for (std::size_t i = 1; i < index.entries.size(); ++i) {
        const TMpEntry& entry = index.entries[i];
        // An entry of size 0 at offset 0 names no image in this file.
        if (entry.size == 0 && entry.offset == 0) continue;
        const std::uint64_t start = mpHeader + entry.offset;
        if (entry.size == 0 || start < place.primaryEnd || start > inputSize ||
            entry.size > inputSize - start)
            return std::nullopt;
        TSecondaryImage image;
        image.entry = i;
        image.attribute = entry.attribute;
        image.inStart = static_cast<std::size_t>(start);
        image.inSize = entry.size;
        images.push_back(image);
    }
    std::sort(images.begin(), images.end(),
              [](const auto& a, const auto& b) { return a.inStart < b.inStart; });
    for (std::size_t i = 1; i < images.size(); ++i)
        if (images[i].inStart < images[i - 1].inStart + images[i - 1].inSize) return std::nullopt;
    return images;
}

}  // namespace

std::vector<TSecondaryImage> RewriteMultiPicture(const std::uint8_t* input, std::size_t inputSize,
                                                 const TMultiPicturePlace& place,
                                                 std::vector<std::uint8_t>& output,
                                                 const TSecondaryTurner& turn) {
    const std::size_t primarySize = output.size();
    const auto keepTail = [&]() {
        output.resize(primarySize);
        if (place.primaryEnd < inputSize)
            output.insert(output.end(), input + place.primaryEnd, input + inputSize);
        return std::vector<TSecondaryImage>{};
    };
    const bool placed = place.primaryEnd <= inputSize && place.inBody <= inputSize &&
                        place.bodySize <= inputSize - place.inBody &&
                        place.outBody <= primarySize &&
                        place.bodySize <= primarySize - place.outBody;
    if (!placed || primarySize > kMaxField) return keepTail();
    const auto index = ReadMpIndex(input + place.inBody, place.bodySize);
    if (!index) return keepTail();
    auto images = LocateImages(*index, inputSize, place);
    if (!images) return keepTail();

    const std::size_t mpHeaderOut = place.outBody + kMpfIdentifierSize;
    std::size_t at = place.primaryEnd;
    for (TSecondaryImage& image : *images) {
        output.insert(output.end(), input + at, input + image.inStart);
        image.outStart = output.size();
        std::optional<std::vector<std::uint8_t>> turned;
        if ((image.attribute & kMpFormatMask) == 0)
            turned = turn(input + image.inStart, image.inSize, image.attribute);
        image.turned = turned.has_value();
        if (turned)
            output.insert(output.end(), turned->begin(), turned->end());
        else
            output.insert(output.end(), input + image.inStart,
                          input + image.inStart + image.inSize);
        image.outSize = output.size() - image.outStart;
        at = image.inStart + image.inSize;
        if (image.outSize > kMaxField || image.outStart - mpHeaderOut > kMaxField)
            return keepTail();
    }
    output.insert(output.end(), input + at, input + inputSize);

    const TTiffView view(output.data() + mpHeaderOut, place.bodySize - kMpfIdentifierSize,
                         index->littleEndian);
    const auto entryAt = [&](std::size_t i) { return index->entriesOffset + i * kMpEntrySize; };
    view.PutLong(entryAt(0) + kMpEntrySizeField, static_cast<std::uint32_t>(primarySize));
    for (const TSecondaryImage& image : *images) {
        view.PutLong(entryAt(image.entry) + kMpEntrySizeField,
                     static_cast<std::uint32_t>(image.outSize));
        view.PutLong(entryAt(image.entry) + kMpEntryOffsetField,
                     static_cast<std::uint32_t>(image.outStart - mpHeaderOut));
    }
    return *images;
}

}  // namespace plume
