// The multi-picture rewrite on files near well-formed ones: a built file of a
// primary and three secondary images (a trailer after them) whose APP2 index
// takes the fuzzer's bytes. Input: byte 0 chooses the MP header's byte order
// and what the turner does, byte 1 how much longer the new primary is; then
// pairs of (place in the APP2 body, new byte).
//
// Checked: an index the rewrite does not take leaves the segment and the
// tail as they were; one it takes reads back safely and names, for the
// primary, the new primary's size, and for each secondary image exactly the
// bytes written for it (the turner's, or the input's image), all inside the
// output, so that every entry names a whole JPEG where the input's did.
#include <algorithm>
#include <cstdlib>
#include <map>

#include "JpegRotation/MultiPicture.h"
#include "fixtures/JpegEncoder.h"
#include "fixtures/JpegSegments.h"
#include "fixtures/MultiPictureBuilder.h"

namespace {

using plume::fixtures::TBytes;

TBytes Picture(int width, int height) {
    plume::fixtures::TEncodeOptions options;
    options.Size(width, height);
    options.writeJfif = false;
    options.noise = 4;
    return plume::fixtures::EncodeJpeg(options);
}

const TBytes& BaseFile(bool littleEndian) {
    static const auto build = [](bool little) {
        return plume::fixtures::BuildMultiPicture(
            Picture(16, 16), {little,
                              {{plume::fixtures::kMpUndefined, Picture(8, 8)},
                               {plume::fixtures::kMpLargeThumbnail, Picture(16, 8)},
                               {0x00020002, Picture(8, 16)}},
                              {'e', 'n', 'd'}});
    };
    static const TBytes little = build(true), big = build(false);
    return littleEndian ? little : big;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const TBytes& base = BaseFile((data[0] & 1) != 0);
    // The primary's EOI: the first FF D9 after its scan data.
    static constexpr std::uint8_t kEoi[] = {0xFF, 0xD9};
    const auto eoi = std::search(
        base.begin() + static_cast<std::ptrdiff_t>(*plume::fixtures::ScanDataOffset(base)),
        base.end(), std::begin(kEoi), std::end(kEoi));
    TBytes input = base;
    const auto app2 = plume::fixtures::FindSegment(input, 0xFFE2);
    for (std::size_t i = 2; i + 2 < size; i += 3)
        input[app2->BodyOffset() +
              (std::size_t{data[i]} << 8 | data[i + 1]) % (app2->length - 2u)] = data[i + 2];

    plume::TMultiPicturePlace place;
    place.inBody = app2->BodyOffset();
    place.bodySize = app2->length - 2u;
    place.primaryEnd = static_cast<std::size_t>(eoi - base.begin()) + sizeof kEoi;
    // The new primary: the old one with data[1] more bytes before the APP2.
    TBytes output(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(place.primaryEnd));
    output.insert(output.begin() + 2, data[1], 0xEE);
    place.outBody = place.inBody + data[1];
    const TBytes primary = output;

    std::map<std::size_t, TBytes> written;  // input start -> turned bytes
    const auto turn = [&](const std::uint8_t* image, std::size_t imageSize,
                          std::uint32_t attribute) -> std::optional<TBytes> {
        if (((data[0] >> 1) + attribute) % 3 == 0) return std::nullopt;
        TBytes turned(image, image + imageSize);
        turned.insert(turned.begin() + static_cast<std::ptrdiff_t>(imageSize / 2),
                      (data[0] >> 3) % 5, 0x55);
        written[static_cast<std::size_t>(image - input.data())] = turned;
        return turned;
    };
    const auto images = plume::RewriteMultiPicture(input.data(), input.size(), place, output, turn);

    const TBytes tail(input.begin() + static_cast<std::ptrdiff_t>(place.primaryEnd), input.end());
    if (images.empty()) {
        TBytes expected = primary;
        expected.insert(expected.end(), tail.begin(), tail.end());
        Check(output == expected);
        return 0;
    }
    const auto index = plume::ReadMpIndex(output.data() + place.outBody, place.bodySize);
    Check(index.has_value() && index->entries.front().size == primary.size());
    const std::size_t mpHeader = place.outBody + plume::kMpfIdentifierSize;
    for (const plume::TSecondaryImage& image : images) {
        const plume::TMpEntry& entry = index->entries.at(image.entry);
        const std::size_t start = mpHeader + entry.offset;
        Check(start >= primary.size() && start <= output.size() &&
              entry.size <= output.size() - start);
        const TBytes named(output.begin() + static_cast<std::ptrdiff_t>(start),
                           output.begin() + static_cast<std::ptrdiff_t>(start + entry.size));
        const auto turned = written.find(image.inStart);
        if (image.turned)
            Check(turned != written.end() && named == turned->second);
        else
            Check(named == TBytes(input.begin() + static_cast<std::ptrdiff_t>(image.inStart),
                                  input.begin() +
                                      static_cast<std::ptrdiff_t>(image.inStart + image.inSize)));
    }
    return 0;
}
