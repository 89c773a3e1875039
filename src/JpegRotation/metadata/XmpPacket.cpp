// A reader of XMP packets that checks what it relies on: elements nest and
// close by name, attributes are quoted and hold no '<', comments, processing
// instructions and CDATA sections are closed, every prefix used is declared
// (XML 1.0, 2 and 3; Namespaces in XML 1.0, 5 and 6). A document type
// declaration, which could define entities, is not XMP (ISO 16684-1, 7.1) and
// ends the reading. The reader never resolves entities: only values made of
// decimal digits are ever rewritten.
#include "JpegRotation/metadata/XmpPacket.h"

#include <algorithm>

namespace plume {

namespace {

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameChar(char c) {
    return !IsSpace(c) && c != '<' && c != '>' && c != '/' && c != '=' && c != '"' && c != '\'' &&
           c != '?' && c != '!' && c != '\0';
}

// One open element.
struct TFrame {
    std::string_view qname;
    std::size_t scopeSize = 0;  // namespace bindings in force before it
    std::string_view uri, local;
    bool rdfRoot = false;         // rdf:RDF
    bool topDescription = false;  // rdf:Description right inside rdf:RDF
    bool propertyOfTop = false;   // a property element of such a description
    bool inDirectory = false;     // inside a top-level Container:Directory
    int item = -1;                // the Container:Item it lies in
    std::size_t contentStart = 0;
    bool plainText = true;  // nothing but text inside so far
};

class TXmpReader {
  public:
    explicit TXmpReader(std::string_view text) : text_(text) {}
    std::optional<TXmpLayout> Read();

  private:
    bool At(std::string_view s) const {
        return text_.substr(std::min(pos_, text_.size())).starts_with(s);
    }
    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    }
    bool SkipPast(std::string_view end) {
        const std::size_t found = text_.find(end, pos_);
        if (found == std::string_view::npos) return false;
        pos_ = found + end.size();
        return true;
    }
    std::string_view ReadName() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }
    // The URI of a qualified name; nothing for an undeclared prefix. An
    // attribute without a prefix is in no namespace (Namespaces 6.2).
    std::optional<std::string_view> Resolve(std::string_view qname, bool element,
                                            std::string_view& local) const;
    bool StartTag();
    bool EndTag();
    bool Content();
    void Record(std::string_view uri, std::string_view local, std::size_t start, std::size_t end,
                bool topLevel, int item);

    std::string_view text_;
    std::size_t pos_ = 0;
    std::vector<std::pair<std::string_view, std::string_view>> scope_;  // prefix, URI
    std::vector<TFrame> stack_;
    TXmpLayout layout_;
};

std::optional<std::string_view> TXmpReader::Resolve(std::string_view qname, bool element,
                                                    std::string_view& local) const {
    const std::size_t colon = qname.find(':');
    const std::string_view prefix = colon == std::string_view::npos ? "" : qname.substr(0, colon);
    local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
    if (local.empty() || local.find(':') != std::string_view::npos) return std::nullopt;
    if (prefix.empty() && !element) return std::string_view{};
    if (prefix == "xml") return kXmlNamespace;
    for (auto it = scope_.rbegin(); it != scope_.rend(); ++it)
        if (it->first == prefix) return it->second;
    if (prefix.empty()) return std::string_view{};
    return std::nullopt;
}

void TXmpReader::Record(std::string_view uri, std::string_view local, std::size_t start,
                        std::size_t end, bool topLevel, int item) {
    if (uri.empty()) return;
    while (start < end && IsSpace(text_[start])) ++start;
    while (end > start && IsSpace(text_[end - 1])) --end;
    layout_.values.push_back({uri, local, start, end - start, topLevel, item});
}

bool TXmpReader::StartTag() {
    ++pos_;  // '<'
    TFrame frame;
    frame.qname = ReadName();
    if (frame.qname.empty()) return false;
    frame.scopeSize = scope_.size();
    struct TAttribute {
        std::string_view qname;
        std::size_t start, end;
    };
    std::vector<TAttribute> attributes;
    bool empty = false;
    for (;;) {
        const std::size_t before = pos_;
        SkipSpace();
        if (pos_ >= text_.size()) return false;
        if (text_[pos_] == '>') {
            ++pos_;
            break;
        }
        if (At("/>")) {
            pos_ += 2;
            empty = true;
            break;
        }
        // Attributes are separated from the name and each other by space.
        if (pos_ == before) return false;
        const std::string_view name = ReadName();
        SkipSpace();
        if (name.empty() || !At("=")) return false;
        ++pos_;
        SkipSpace();
        if (!At("\"") && !At("'")) return false;
        const char quote = text_[pos_++];
        const std::size_t end = text_.find(quote, pos_);
        if (end == std::string_view::npos) return false;
        const std::string_view value = text_.substr(pos_, end - pos_);
        if (value.find('<') != std::string_view::npos) return false;
        if (name == "xmlns")
            scope_.emplace_back(std::string_view{}, value);
        else if (name.starts_with("xmlns:"))
            scope_.emplace_back(name.substr(6), value);
        else
            attributes.push_back({name, pos_, end});
        pos_ = end + 1;
    }

    const auto uri = Resolve(frame.qname, true, frame.local);
    if (!uri) return false;
    frame.uri = *uri;
    const TFrame* parent = stack_.empty() ? nullptr : &stack_.back();
    frame.rdfRoot = frame.uri == kRdfNamespace && frame.local == "RDF";
    frame.topDescription =
        parent && parent->rdfRoot && frame.uri == kRdfNamespace && frame.local == "Description";
    frame.propertyOfTop = parent && parent->topDescription;
    const bool directory =
        frame.propertyOfTop && frame.uri == kContainerNamespace && frame.local == "Directory";
    frame.inDirectory = directory || (parent && parent->inDirectory);
    frame.item = parent ? parent->item : -1;
    if (frame.inDirectory && !directory && frame.uri == kContainerNamespace &&
        frame.local == "Item")
        frame.item = layout_.itemCount++;

    for (const TAttribute& attribute : attributes) {
        std::string_view local;
        const auto attributeUri = Resolve(attribute.qname, false, local);
        if (!attributeUri) return false;
        Record(*attributeUri, local, attribute.start, attribute.end, frame.topDescription,
               frame.item);
    }
    if (empty) {
        scope_.resize(frame.scopeSize);
        return true;
    }
    frame.contentStart = pos_;
    stack_.push_back(frame);
    return true;
}

bool TXmpReader::EndTag() {
    const std::size_t contentEnd = pos_;
    pos_ += 2;  // "</"
    const std::string_view name = ReadName();
    SkipSpace();
    if (!At(">") || name != stack_.back().qname) return false;
    ++pos_;
    const TFrame& frame = stack_.back();
    if (frame.plainText)
        Record(frame.uri, frame.local, frame.contentStart, contentEnd, frame.propertyOfTop,
               frame.item);
    scope_.resize(frame.scopeSize);
    stack_.pop_back();
    return true;
}

// One item of an element's content.
bool TXmpReader::Content() {
    if (pos_ >= text_.size()) return false;
    if (text_[pos_] != '<') {
        const std::size_t next = text_.find('<', pos_);
        if (next == std::string_view::npos) return false;
        pos_ = next;
        return true;
    }
    if (At("</")) return EndTag();
    stack_.back().plainText = false;
    if (At("<!--")) return SkipPast("-->");
    if (At("<![CDATA[")) return SkipPast("]]>");
    if (At("<?")) return SkipPast("?>");
    if (At("<!")) return false;
    return StartTag();
}

std::optional<TXmpLayout> TXmpReader::Read() {
    if (At("\xEF\xBB\xBF")) pos_ += 3;
    // Before the root: the packet header and comments.
    for (;;) {
        SkipSpace();
        if (At("<?")) {
            if (!SkipPast("?>")) return std::nullopt;
        } else if (At("<!--")) {
            if (!SkipPast("-->")) return std::nullopt;
        } else {
            break;
        }
    }
    if (!At("<") || At("</") || At("<!") || !StartTag()) return std::nullopt;
    while (!stack_.empty())
        if (!Content()) return std::nullopt;
    layout_.paddingStart = pos_;
    SkipSpace();
    layout_.paddingEnd = pos_;
    layout_.hasTrailer = At("<?xpacket end=") && text_.find("?>", pos_) != std::string_view::npos;
    return std::move(layout_);
}

}  // namespace

bool TXmpValue::IsNumber(std::string_view packet) const {
    const std::string_view text = Text(packet);
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<TXmpLayout> ReadXmpLayout(std::string_view packet) {
    return TXmpReader(packet).Read();
}

bool TXmpEditPlan::Add(std::vector<TXmpEdit> group) {
    std::int64_t growth = growth_;
    for (const TXmpEdit& edit : group) {
        growth +=
            static_cast<std::int64_t>(edit.text.size()) - static_cast<std::int64_t>(edit.size);
        for (const TXmpEdit& taken : edits_)
            if (edit.start < taken.start + taken.size && taken.start < edit.start + edit.size)
                return false;
    }
    const std::int64_t padding =
        static_cast<std::int64_t>(layout_.paddingEnd - layout_.paddingStart);
    // Without the trailer there is no padding to take bytes from or give them to.
    if (layout_.hasTrailer ? growth > padding : growth != 0) return false;
    growth_ = growth;
    for (TXmpEdit& edit : group) edits_.push_back(std::move(edit));
    return true;
}

void TXmpEditPlan::Apply(std::uint8_t* packet, std::size_t size) const {
    if (edits_.empty()) return;
    std::vector<const TXmpEdit*> order;
    for (const TXmpEdit& edit : edits_) order.push_back(&edit);
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->start < b->start; });
    std::vector<std::uint8_t> out;
    out.reserve(size);
    std::size_t at = 0;
    for (const TXmpEdit* edit : order) {
        out.insert(out.end(), packet + at, packet + edit->start);
        out.insert(out.end(), edit->text.begin(), edit->text.end());
        at = edit->start + edit->size;
    }
    out.insert(out.end(), packet + at, packet + layout_.paddingStart);
    // The padding gives up its last bytes, or takes spaces at its end.
    const std::size_t padding = layout_.paddingEnd - layout_.paddingStart;
    const std::size_t kept = growth_ > 0 ? padding - static_cast<std::size_t>(growth_) : padding;
    out.insert(out.end(), packet + layout_.paddingStart, packet + layout_.paddingStart + kept);
    if (growth_ < 0) out.insert(out.end(), static_cast<std::size_t>(-growth_), ' ');
    out.insert(out.end(), packet + layout_.paddingEnd, packet + size);
    std::copy(out.begin(), out.end(), packet);
}

}  // namespace plume
