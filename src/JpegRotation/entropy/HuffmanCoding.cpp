#include "JpegRotation/entropy/HuffmanCoding.h"

#include <algorithm>
#include <cstring>

#include "BitStreamFile/MemoryStream.h"

namespace plume {

// ---- THuffmanDecodeTable ----

// The codes are canonical (T.81 C.2), so the codes of one length form one
// contiguous range that starts at firstCode_ and whose symbols start at
// firstIndex_ in the canonical list (T.81 F.2.2.3, MINCODE/MAXCODE/VALPTR).
void THuffmanDecodeTable::Build(int count, const std::int32_t* lengths, const std::int32_t* symbols,
                                const std::int32_t* codes) {
    count_ = count;
    maxLength_ = count > 0 ? lengths[count - 1] : 0;
    std::fill(std::begin(lookup_), std::end(lookup_), std::uint16_t{0});
    std::fill(std::begin(fast_), std::end(fast_), std::uint16_t{0});
    std::fill(std::begin(codesOfLength_), std::end(codesOfLength_), 0);
    symbols_.assign(static_cast<std::size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        const int length = lengths[i];
        const int symbol = symbols[i] & 0xFF;
        symbols_[i] = static_cast<std::uint8_t>(symbol);
        if (codesOfLength_[length]++ == 0) {
            firstCode_[length] = codes[i];
            firstIndex_[length] = i;
        }
        if (length > kLookupBits) continue;
        const int first = codes[i] << (kLookupBits - length);
        const int last = (codes[i] + 1) << (kLookupBits - length);
        const auto entry = static_cast<std::uint16_t>((length << 8) | symbol);
        const auto fast = static_cast<std::uint16_t>(
            length | ((symbol >> 4) << 4) | ((symbol & 15) << 8) | (symbol == 0 ? kEndOfBlock : 0));
        for (int j = first; j < last; ++j) {
            lookup_[j] = entry;
            fast_[j] = fast;
        }
    }
    BuildSkip();
}

void THuffmanDecodeTable::BuildSkip() {
    constexpr int kMask = (1 << kSkipBits) - 1;
    for (int j = 0; j <= kMask; ++j) {
        int used = 0, advance = 0;
        bool ends = false;
        while (used < kSkipBits) {
            // The code must lie wholly in the bits left; codes are prefix-free.
            const std::uint16_t entry = fast_[((j << used) & kMask) >> (kSkipBits - kLookupBits)];
            const int length = FastLength(entry), size = FastSize(entry);
            if (entry == 0 || used + length > kSkipBits) break;
            if (entry & kEndOfBlock) {
                used += length;
                ends = true;
                break;
            }
            if (size == 0 || used + length + size > kSkipBits) break;
            used += length + size;
            advance += FastRun(entry) + 1;
        }
        skip_[j] = used == 0
                       ? 0
                       : static_cast<std::uint16_t>(used | (advance << 4) | (ends ? kSkipEnds : 0));
    }
}

int THuffmanDecodeTable::DecodeLong(std::uint32_t peek16, int& length) const {
    for (int l = kLookupBits + 1; l <= 16; ++l) {
        const int n = codesOfLength_[l];
        if (n == 0) continue;
        const auto offset = static_cast<std::int64_t>(peek16 >> (16 - l)) - firstCode_[l];
        if (offset >= 0 && offset < n) {
            length = l;
            return symbols_[firstIndex_[l] + offset];
        }
    }
    return -1;
}

// ---- TScanReader ----

TScanReader::TScanReader(const std::uint8_t* data, std::size_t size, std::size_t start,
                         TMarkerEvent onMarker)
    : data_(data), size_(size), position_(start), onMarker_(std::move(onMarker)) {}

void TScanReader::PushEvent(TEventKind kind) {
    const TEvent event{appended_ * 8, kind};
    events_[(eventHead_ + eventCount_) & 15] = event;
    if (eventCount_++ == 0) nextEventBit_ = event.bit;
}

void TScanReader::AppendByte(std::uint8_t byte, std::size_t sourcePosition) {
    StartRun(sourcePosition);
    runSourceEnd_ = kNoRun;
    buffer_ |= std::uint64_t{byte} << (56 - bits_);
    bits_ += 8;
    ++appended_;
}

void TScanReader::Refill() {
    while (bits_ <= 56) {
        if (position_ + 8 <= size_) {
            const std::uint64_t word = LoadBigEndian64(data_ + position_);
            if (!HasByteFF(word)) {
                // The whole bytes that fit; the first bits of the byte after
                // them land in the buffer too, where appending that byte
                // later puts the same bits again.
                const int take = (64 - bits_) >> 3;
                buffer_ |= word >> bits_;
                if (position_ != runSourceEnd_) StartRun(position_);
                appended_ += static_cast<std::uint64_t>(take);
                position_ += static_cast<std::size_t>(take);
                runSourceEnd_ = position_;
                bits_ += 8 * take;
                return;
            }
        }
        if (position_ >= size_) {
            // Past the data: zeros, and the read error once one is consumed.
            if (!endQueued_) {
                PushEvent(TEventKind::End);
                endQueued_ = true;
            }
            AppendByte(0, size_);
            continue;
        }
        const std::uint8_t byte = data_[position_];
        const std::size_t start = position_;
        if (byte != 0xFF) {
            ++position_;
        } else if (position_ + 1 >= size_) {
            // 0xFF as the last byte: its partner cannot be read.
            PushEvent(TEventKind::End);
            endQueued_ = true;
            position_ = size_;
        } else {
            if (data_[position_ + 1] != 0x00) PushEvent(TEventKind::Marker);
            position_ += 2;
        }
        AppendByte(byte, start);
    }
}

void TScanReader::RaiseEvents() {
    const std::uint64_t consumed = ConsumedBits();
    while (eventCount_ > 0 && consumed > events_[eventHead_].bit) {
        const TEventKind kind = events_[eventHead_].kind;
        eventHead_ = (eventHead_ + 1) & 15;
        --eventCount_;
        nextEventBit_ = eventCount_ > 0 ? events_[eventHead_].bit : kNoEvent;
        if (kind == TEventKind::End) throw EStreamError(kStreamReadError);
        if (onMarker_) onMarker_();
    }
}

std::size_t TScanReader::SourceOf(std::uint64_t dataByte) const {
    if (dataByte >= appended_) return position_;
    // Every run holds at least one byte and at most 8 bytes are buffered, so
    // the run is among the last 16.
    for (std::uint64_t i = runCount_; i-- > 0;) {
        const TRun& run = runs_[i & 15];
        if (run.firstData <= dataByte)
            return run.source + static_cast<std::size_t>(dataByte - run.firstData);
    }
    return position_;
}

std::size_t TScanReader::BytePosition() const {
    return SourceOf((ConsumedBits() + 7) / 8);
}

std::uint64_t TScanReader::BitPosition() const {
    const std::uint64_t consumed = ConsumedBits();
    return (std::uint64_t{SourceOf(consumed / 8)} << 3) | (consumed & 7);
}

void TScanReader::Restart(std::size_t position) {
    position_ = position;
    buffer_ = 0;
    bits_ = 0;
    runSourceEnd_ = kNoRun;
    eventHead_ = 0;
    eventCount_ = 0;
    nextEventBit_ = kNoEvent;
    endQueued_ = false;
}

// ---- TScanWriter ----

TScanWriter::TScanWriter(std::vector<std::uint8_t>& out, bool raw)
    : out_(out), length_(out.size()), raw_(raw) {}

TScanWriter::~TScanWriter() = default;

// Within the capacity reserved the vector grows in small steps, so that few
// pages are touched before they are written; past it, it doubles.
void TScanWriter::Grow(std::size_t room) {
    const std::size_t needed = length_ + room;
    const std::size_t step = length_ + std::max<std::size_t>(room, std::size_t{1} << 16);
    if (needed <= out_.capacity()) {
        out_.resize(std::min(step, out_.capacity()));
        return;
    }
    out_.resize(
        std::max(needed, length_ + std::max<std::size_t>(length_, std::size_t{1} << 16) + room));
}

std::uint8_t* PutStuffedWord(std::uint8_t* out, std::uint64_t word) {
    for (int shift = 56; shift >= 0; shift -= 8) {
        const auto byte = static_cast<std::uint8_t>(word >> shift);
        *out++ = byte;
        if (byte == 0xFF) *out++ = 0x00;
    }
    return out;
}

void TScanWriter::EmitWord(std::uint64_t word) {
    if (length_ + 16 > out_.size()) Grow(16);
    std::uint8_t* p = out_.data() + length_;
    if (raw_ || !HasByteFF(word)) {
        const std::uint64_t be = __builtin_bswap64(word);
        std::memcpy(p, &be, 8);
        length_ += 8;
        return;
    }
    length_ = static_cast<std::size_t>(PutStuffedWord(p, word) - out_.data());
}

void TScanWriter::FlushWithPadding() {
    int bits = 64 - free_;
    if (bits == 0) return;
    const int pad = (8 - (bits & 7)) & 7;
    std::uint64_t value = (accumulator_ << pad) | ((std::uint64_t{1} << pad) - 1);
    bits += pad;
    if (length_ + 32 > out_.size()) Grow(32);
    for (int shift = bits - 8; shift >= 0; shift -= 8) {
        const auto byte = static_cast<std::uint8_t>(value >> shift);
        out_[length_++] = byte;
        if (byte == 0xFF) out_[length_++] = 0x00;
    }
    accumulator_ = 0;
    free_ = 64;
}

void TScanWriter::PutMarker(std::uint16_t marker) {
    if (length_ + 2 > out_.size()) Grow(2);
    out_[length_++] = static_cast<std::uint8_t>(marker >> 8);
    out_[length_++] = static_cast<std::uint8_t>(marker);
}

void TScanWriter::Finish() {
    out_.resize(length_);
}

void TScanWriter::AppendRaw(const TScanWriter& raw) {
    AppendRaw(raw.out_.data(), raw.length_, raw.Pending());
}

void TScanWriter::AppendRaw(const std::uint8_t* bytes, std::size_t length, TPending pending) {
    std::size_t i = 0;
    constexpr std::size_t kChunk = std::size_t{1} << 14;
    while (length - i >= 8) {
        const std::size_t end = i + (std::min(length - i, kChunk) & ~std::size_t{7});
        TBits bits = Open(2 * (end - i) + 16);  // every byte may be stuffed
        for (; i < end; i += 8) {
            const std::uint64_t word = LoadBigEndian64(bytes + i);
            PutBits(bits, word >> 32, 32);
            PutBits(bits, word & 0xFFFFFFFF, 32);
        }
        Close(bits);
    }
    for (; i < length; ++i) Put(bytes[i], 8);
    const int count = pending.count;
    if (count > 32)
        Put((pending.bits >> 32) & ((std::uint64_t{1} << (count - 32)) - 1), count - 32);
    const int low = count > 32 ? 32 : count;
    if (low > 0) Put(pending.bits & ((std::uint64_t{1} << low) - 1), low);
}

void TScanWriter::AppendBytes(const std::uint8_t* bytes, std::size_t count) {
    if (length_ + count > out_.size()) out_.resize(length_ + count + kBlockWorstCase);
    std::memcpy(out_.data() + length_, bytes, count);
    length_ += count;
}

}  // namespace plume
