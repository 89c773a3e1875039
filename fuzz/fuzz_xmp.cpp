// The XMP packet rewrite on packets near well-formed ones: a built packet
// (attribute or element form, with or without padding, with an Ultra HDR
// container directory) with bytes cut out and others put in their place.
// Input: byte 0 chooses the packet and what changes (orientation, exchange,
// trimmed width and height), bytes 1-2 the place, byte 3 how many bytes go,
// the rest is what comes in.
//
// Checked: the rewrite never changes a packet this reader does not find
// well-formed; a packet it changes stays well-formed; the bytes after the
// padding never change; a container length that was set reads back, and a
// refused one leaves the packet as it was.
#include <cstdlib>
#include <string>

#include "JpegRotation/XmpPacket.h"
#include "JpegRotation/XmpRewrite.h"
#include "fixtures/MultiPictureBuilder.h"

namespace {

using plume::fixtures::TXmpOptions;

std::string BasePacket(unsigned choice) {
    TXmpOptions options;
    options.elementForm = (choice & 1) != 0;
    options.tiffPrefix = (choice & 2) != 0 ? "t" : "tiff";
    options.orientation = 6;
    options.imageSize = {{640, 1024}};
    options.pixelSize = {{4000, 3000}};
    options.containerItems = {{"GainMap", 9999}, {"Depth", 12}};
    options.padding = (choice & 4) != 0 ? 0 : 40;
    return plume::fixtures::BuildXmpPacket(options);
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const unsigned choice = data[0];
    const std::string base = BasePacket(choice);
    const std::size_t at = (std::size_t{data[1]} << 8 | data[2]) % (base.size() + 1);
    const std::size_t cut = std::min<std::size_t>(data[3], base.size() - at);
    std::string packet = base.substr(0, at);
    packet.append(reinterpret_cast<const char*>(data + 4), size - 4);
    packet.append(base, at + cut);

    const std::string before = packet;
    auto* bytes = reinterpret_cast<std::uint8_t*>(packet.data());
    const auto layout = plume::ReadXmpLayout(before);
    plume::TXmpTurn turn;
    turn.uprightOrientation = (choice & 8) != 0;
    turn.exchangeDimensions = (choice & 16) != 0;
    if ((choice & 32) != 0) turn.width = 992;  // a trimmed size, shorter than the base's
    if ((choice & 64) != 0) turn.height = 1008;
    plume::RewriteXmpPacket(bytes, packet.size(), turn);
    Check(packet.size() == before.size());
    if (!layout) {
        Check(packet == before);
        return 0;
    }
    Check(plume::ReadXmpLayout(packet).has_value());
    Check(packet.compare(layout->paddingEnd, std::string::npos, before, layout->paddingEnd) == 0);

    const auto items = plume::ReadContainerItems(bytes, packet.size());
    if (items.size() < 2) return 0;
    const std::string unset = packet;
    const std::uint64_t length = std::uint64_t{choice} * 997;
    if (plume::SetContainerItemLengths(bytes, packet.size(), {{1, length}})) {
        Check(plume::ReadXmpLayout(packet).has_value());
        Check(plume::ReadContainerItems(bytes, packet.size())[1].length == length);
    } else {
        Check(packet == unset);
    }
    return 0;
}
