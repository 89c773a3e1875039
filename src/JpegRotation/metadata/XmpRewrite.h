// XMP packets in an APP1 segment (Adobe XMP, storage in files, 1.1.3; ISO
// 16684-1): what a lossless turn changes in them, and the GContainer
// directory of an Ultra HDR file, whose item lengths locate the gain map.
//
// Pure functions over one packet's bytes: no engine state, so a fuzz target
// can call them directly. Every rewrite works in place and keeps the packet's
// size: a value that grows takes bytes from the whitespace padding before
// the closing "<?xpacket end=...?>", one that shrinks gives them back, and
// nothing else in the packet moves. A packet that this reader does not find
// well-formed (XML 1.0 elements, attributes, comments, processing
// instructions and CDATA; namespace prefixes declared) is never changed, and
// a packet it rewrites stays well-formed by the same reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plume {

// The APP1 identifier of the main XMP packet, its NUL included (XMP storage
// in files, 1.1.3.1). Extended XMP ("http://ns.adobe.com/xmp/extension/")
// differs and is left alone.
inline constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";
inline constexpr std::size_t kXmpIdentifierSize = sizeof kXmpIdentifier;

// The size of the identifier when an APP1 body begins with it, else 0.
std::size_t XmpPacketStart(const std::uint8_t* body, std::size_t size);

// What a turn changes in a packet.
struct TXmpTurn {
    // tiff:Orientation becomes 1.
    bool uprightOrientation = false;
    // tiff:ImageWidth and tiff:ImageLength exchange their values, and so do
    // exif:PixelXDimension and exif:PixelYDimension.
    bool exchangeDimensions = false;
    // The output's width or height when a partial MCU column or row was
    // dropped: the width properties (tiff:ImageWidth, exif:PixelXDimension)
    // or the height ones, after any exchange, record it.
    std::optional<std::uint32_t> width = std::nullopt, height = std::nullopt;
};

// Rewrites the properties of the packet's top-level rdf:Description nodes
// (never those of nested resources, such as a placed document's metadata)
// whose values are decimal numbers, matched by namespace URI whatever their
// prefix, in attribute or element form. A change that the padding cannot
// absorb leaves that property (or that pair) as it was; the others are made.
// False when a change was left out that way, or the packet is not
// well-formed and stays as it is.
[[nodiscard]] bool RewriteXmpPacket(std::uint8_t* packet, std::size_t size, const TXmpTurn& turn);

// One Container:Item of a top-level Container:Directory, in directory order
// (the Google container format that Ultra HDR uses: the first item is the
// primary image, each further one follows the previous item and its padding).
struct TContainerItem {
    std::string semantic;                 // Item:Semantic ("Primary", "GainMap", ...)
    std::optional<std::uint64_t> length;  // Item:Length, when a decimal number
    std::uint64_t padding = 0;            // Item:Padding
};
// Nothing when the packet is not well-formed or has no directory.
std::vector<TContainerItem> ReadContainerItems(const std::uint8_t* packet, std::size_t size);

// Sets Item:Length of the items given (index into ReadContainerItems, new
// length). All or nothing: false, with the packet unchanged, when an item has
// no numeric Item:Length or the padding cannot absorb the new lengths.
bool SetContainerItemLengths(std::uint8_t* packet, std::size_t size,
                             const std::vector<std::pair<std::size_t, std::uint64_t>>& lengths);

}  // namespace plume
