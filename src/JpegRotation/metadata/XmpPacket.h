// Reading an XMP packet far enough to change simple values in place: the
// properties whose values are plain text, with the namespace URI their
// prefix is bound to, and the whitespace padding that absorbs changes of
// length (ISO 16684-1, 7.3 "Packet wrapper"; XML 1.0; Namespaces
// in XML 1.0). Used by XmpRewrite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plume {

// Namespace URIs this program reads.
inline constexpr std::string_view kRdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
inline constexpr std::string_view kTiffNamespace = "http://ns.adobe.com/tiff/1.0/";
inline constexpr std::string_view kExifNamespace = "http://ns.adobe.com/exif/1.0/";
inline constexpr std::string_view kContainerNamespace =
    "http://ns.google.com/photos/1.0/container/";
inline constexpr std::string_view kContainerItemNamespace =
    "http://ns.google.com/photos/1.0/container/item/";

// A property with a plain-text value: an attribute, or an element whose only
// content is text. The views point into the packet.
struct TXmpValue {
    std::string_view uri;
    std::string_view name;  // local name
    std::size_t start = 0;  // of the value, surrounding whitespace left out
    std::size_t size = 0;
    bool topLevel = false;  // a property of a top-level rdf:Description
    int item = -1;          // the Container:Item it describes, or -1
    std::string_view Text(std::string_view packet) const { return packet.substr(start, size); }
    bool IsNumber(std::string_view packet) const;
};

struct TXmpLayout {
    std::vector<TXmpValue> values;  // in packet order
    int itemCount = 0;              // Container:Item nodes of top-level directories
    // The whitespace between the root element and "<?xpacket end=": a change
    // of length is absorbed there, and only when the trailer is present.
    std::size_t paddingStart = 0;
    std::size_t paddingEnd = 0;
    bool hasTrailer = false;
};

// Nothing when the packet is not well-formed as far as this reader checks.
std::optional<TXmpLayout> ReadXmpLayout(std::string_view packet);

// Replaces the bytes [start, start + size) of the packet by text.
struct TXmpEdit {
    std::size_t start = 0;
    std::size_t size = 0;
    std::string text;
};

// Collects edits for one packet, each group whole or not at all, as far as
// the padding can absorb their changes of length.
class TXmpEditPlan {
  public:
    explicit TXmpEditPlan(const TXmpLayout& layout) : layout_(layout) {}
    // Takes the group when, with the edits taken so far, the packet keeps its
    // size; false (nothing taken) otherwise.
    bool Add(std::vector<TXmpEdit> group);
    // Writes the edits taken into the packet, its size unchanged.
    void Apply(std::uint8_t* packet, std::size_t size) const;
    bool Empty() const { return edits_.empty(); }

  private:
    const TXmpLayout& layout_;
    std::vector<TXmpEdit> edits_;
    std::int64_t growth_ = 0;
};

}  // namespace plume
