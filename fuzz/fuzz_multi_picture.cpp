// The multi-picture rewrite on whole files: the input is a file as the engine
// would read it. The segment and the primary's end are found as the engine
// finds them (LocateMultiPicture); the new primary is the old one with
// (size % 64) bytes put in after SOI, and a stand-in turner keeps some
// secondary images and grows the others (its choices follow size / 64, the
// attribute and the image's size). The engine's own turns of these files are
// checked by fuzz_engine (CheckWholeImages).
//
// Checked: an index the rewrite does not take leaves the segment and the
// tail as they were. One it takes is one it may take (it reads, the primary
// at offset 0, each entry an image the rewrite placed or none), reads back
// and names, for the primary, the new primary's size from byte 0, and for
// each secondary image exactly the bytes written for it (the turner's, or
// the input's image) inside the output, so that every entry names a whole
// JPEG where the input's did; the bytes between and after the images are
// kept, and of the segment only the size and offset fields of the entries
// rewritten change.
#include <algorithm>
#include <cstdlib>
#include <map>

#include "FuzzSupport.h"
#include "JpegRotation/metadata/MultiPicture.h"

namespace {

using plume::fuzz::TBytes;

void Check(bool condition) {
    if (!condition) std::abort();
}

TBytes Slice(const TBytes& bytes, std::size_t start, std::size_t size) {
    return TBytes(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                  bytes.begin() + static_cast<std::ptrdiff_t>(start + size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TBytes input(data, data + size);
    auto located = plume::fuzz::LocateMultiPicture(input);
    if (!located) return 0;
    plume::TMultiPicturePlace place = *located;

    // The new primary: the old one with more bytes before the segment.
    const std::size_t growth = size % 64;
    TBytes output(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(place.primaryEnd));
    output.insert(output.begin() + 2, growth, 0xEE);
    place.outBody = place.inBody + growth;
    const TBytes primary = output;

    std::map<std::size_t, TBytes> written;  // input start -> turned bytes
    const std::size_t choice = size / 64;
    const auto turn = [&](const std::uint8_t* image, std::size_t imageSize,
                          std::uint32_t attribute) -> std::optional<TBytes> {
        if ((choice + attribute) % 3 == 0) return std::nullopt;
        TBytes turned(image, image + imageSize);
        turned.insert(turned.begin() + static_cast<std::ptrdiff_t>(imageSize / 2),
                      (choice + imageSize) % 5, 0x55);
        written[static_cast<std::size_t>(image - input.data())] = turned;
        return turned;
    };
    const auto images = plume::RewriteMultiPicture(input.data(), input.size(), place, output, turn);

    const TBytes tail(input.begin() + static_cast<std::ptrdiff_t>(place.primaryEnd), input.end());
    // An index not taken: the segment and the tail as they were. (An index
    // taken that lists no secondary image also gives an empty result; its
    // primary size may leave the bytes unchanged too.)
    TBytes unchanged = primary;
    unchanged.insert(unchanged.end(), tail.begin(), tail.end());
    if (images.empty() && output == unchanged) return 0;

    // An index taken: one that reads, with the primary at offset 0 and every
    // entry the rewrite left out naming no image (size and offset 0). The
    // primary entry names the new primary from byte 0.
    const auto before = plume::ReadMpIndex(input.data() + place.inBody, place.bodySize);
    const auto index = plume::ReadMpIndex(output.data() + place.outBody, place.bodySize);
    Check(before && index && index->entries.size() == before->entries.size() &&
          index->entriesOffset == before->entriesOffset && before->entries.front().offset == 0);
    Check(index->entries.front().size == primary.size() && index->entries.front().offset == 0);

    // The tail: gaps and trailing bytes kept, each image as written for it,
    // and its entry naming exactly those bytes.
    const std::size_t mpHeader = place.outBody + plume::kMpfIdentifierSize;
    TBytes expected = primary;
    std::size_t at = place.primaryEnd;
    std::vector<bool> rewritten(index->entries.size(), false);
    rewritten.front() = true;
    for (const plume::TSecondaryImage& image : images) {
        Check(image.inStart >= at);
        expected.insert(expected.end(), input.begin() + static_cast<std::ptrdiff_t>(at),
                        input.begin() + static_cast<std::ptrdiff_t>(image.inStart));
        const auto turned = written.find(image.inStart);
        Check(image.turned == (turned != written.end()));
        const TBytes bytes =
            image.turned ? turned->second : Slice(input, image.inStart, image.inSize);
        Check(image.outStart == expected.size() && image.outSize == bytes.size());
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        at = image.inStart + image.inSize;

        const plume::TMpEntry& entry = index->entries.at(image.entry);
        const std::size_t start = mpHeader + entry.offset;
        Check(start >= primary.size() && start <= output.size() &&
              entry.size <= output.size() - start && Slice(output, start, entry.size) == bytes);
        Check(entry.attribute == before->entries[image.entry].attribute);
        rewritten[image.entry] = true;
    }
    expected.insert(expected.end(), input.begin() + static_cast<std::ptrdiff_t>(at), input.end());
    for (std::size_t i = 1; i < rewritten.size(); ++i)
        Check(rewritten[i] || (before->entries[i].size == 0 && before->entries[i].offset == 0));

    // Of the segment, only the size and offset fields of rewritten entries
    // change (16 bytes an entry: attribute, size, offset, dependents).
    const std::size_t entries = mpHeader + index->entriesOffset;
    for (std::size_t i = 0; i < rewritten.size(); ++i)
        if (rewritten[i])
            std::copy_n(output.begin() + static_cast<std::ptrdiff_t>(entries + 16 * i + 4), 8,
                        expected.begin() + static_cast<std::ptrdiff_t>(entries + 16 * i + 4));
    Check(output == expected);
    return 0;
}
