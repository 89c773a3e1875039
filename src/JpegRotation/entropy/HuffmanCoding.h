// The fast entropy layer of the engine: Huffman lookup tables, a buffered
// scan reader that keeps the exact byte position and marker rules, and a
// 64-bit scan writer with 0xFF stuffing (T.81 F.1.2.3, F.2.2.3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace plume {

// Decoding table of one canonical Huffman table (T.81 Annex C, F.2.2.3):
// an 11-bit lookup for short codes and per-length code ranges for the rest.
class THuffmanDecodeTable {
  public:
    static constexpr int kLookupBits = 11;
    static constexpr int kSkipBits = 12;

    // lengths, symbols and codes are the table record's lists in canonical order.
    void Build(int count, const std::int32_t* lengths, const std::int32_t* symbols,
               const std::int32_t* codes);
    int Count() const { return count_; }
    // Length of the last code, the number of bits an unmatched code consumes.
    int MaxLength() const { return maxLength_; }

    // Decodes one symbol from the top bits of `peek` (16 bits, MSB first).
    // Returns the symbol and its code length, or -1 when nothing matches.
    int Decode(std::uint32_t peek16, int& length) const {
        const std::uint16_t entry = lookup_[peek16 >> (16 - kLookupBits)];
        if (entry != 0) {
            length = entry >> 8;
            return entry & 0xFF;
        }
        return DecodeLong(peek16, length);
    }

    // The code of at most kLookupBits bits that starts the top bits of
    // `peek` (kLookupBits wide), split for the block decoders: its length,
    // and the symbol read as run and size (T.81 F.1.2.2). 0 where only a
    // longer code or none matches.
    static constexpr std::uint16_t kEndOfBlock = 1 << 12;  // the symbol 0x00
    std::uint16_t Fast(std::uint32_t peek) const { return fast_[peek]; }
    static int FastLength(std::uint16_t entry) { return entry & 15; }
    static int FastRun(std::uint16_t entry) { return (entry >> 4) & 15; }
    static int FastSize(std::uint16_t entry) { return (entry >> 8) & 15; }

    // For AC tables, where the coefficients are not wanted: the symbols with
    // their value bits that fit one after the other in the top kLookupBits
    // bits of `peek`, up to and including an end of block and not beyond a
    // symbol of size 0 (T.81 F.1.2.2). 0 when not even the first fits.
    static constexpr std::uint16_t kSkipEnds = 1 << 15;  // the last symbol is the end of block
    std::uint16_t Skip(std::uint32_t peek) const { return skip_[peek]; }
    static int SkipBits(std::uint16_t entry) { return entry & 15; }
    // The positions the symbols before the end of block cover.
    static int SkipAdvance(std::uint16_t entry) { return (entry >> 4) & 127; }

  private:
    int DecodeLong(std::uint32_t peek16, int& length) const;
    void BuildSkip();

    int count_ = 0;
    int maxLength_ = 0;
    // (length << 8) | symbol; 0 where no code of up to kLookupBits bits matches.
    std::uint16_t lookup_[1 << kLookupBits] = {};
    // length | (run << 4) | (size << 8) | kEndOfBlock.
    std::uint16_t fast_[1 << kLookupBits] = {};
    // bits | (advance << 4) | kSkipEnds.
    std::uint16_t skip_[1 << kSkipBits] = {};
    std::int32_t firstCode_[17] = {};
    std::int32_t codesOfLength_[17] = {};
    std::int32_t firstIndex_[17] = {};
    std::vector<std::uint8_t> symbols_;
};

// Encoding table: code and length per symbol; length 0 = the table has no
// code. `entry` holds both, (code << 8) | length, for one load per symbol.
struct THuffmanEncodeTable {
    std::uint16_t code[256] = {};
    std::uint8_t length[256] = {};
    std::uint32_t entry[256] = {};
};

// True when one of the eight bytes of word is 0xFF.
inline bool HasByteFF(std::uint64_t word) {
    const std::uint64_t x = ~word;
    return ((x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL) != 0;
}

// Reads entropy-coded data from memory with a 64-bit buffer, removing the
// 0x00 stuffed after 0xFF. A marker (0xFF then anything but 0x00) is taken as
// the data byte 0xFF with its second byte dropped, and reported only once a
// bit of it is actually consumed; the end of the data likewise raises the read
// error only when a bit past it is consumed. So the observable behaviour is
// that of a reader that fetches one byte at a time, never ahead.
class TScanReader {
  public:
    using TMarkerEvent = std::function<void()>;

    TScanReader(const std::uint8_t* data, std::size_t size, std::size_t start,
                TMarkerEvent onMarker);

    // Top 16 unconsumed bits (zeros past the data).
    std::uint32_t Peek16() {
        if (bits_ < 32) Refill();
        return static_cast<std::uint32_t>(buffer_ >> 48);
    }
    // Makes sure that at least 32 bits are buffered: one code and its value bits.
    void Ensure32() {
        if (bits_ < 32) Refill();
    }
    std::uint32_t PeekBuffered16() const { return static_cast<std::uint32_t>(buffer_ >> 48); }
    // Decodes one symbol (or -1 after consuming as many bits as the longest
    // code has) and leaves at least 16 bits buffered for its value.
    int Decode(const THuffmanDecodeTable& table) {
        Ensure32();
        int length = 0;
        const int symbol = table.Decode(PeekBuffered16(), length);
        Skip(symbol < 0 ? table.MaxLength() : length);
        return symbol;
    }
    // The bit buffer, for a hot loop that keeps it in registers: take it with
    // Cursor(), give it back with SetCursor() before any other call.
    struct TCursor {
        std::uint64_t buffer;
        int bits;
    };
    TCursor Cursor() const { return {buffer_, bits_}; }
    void SetCursor(const TCursor& cursor) {
        buffer_ = cursor.buffer;
        bits_ = cursor.bits;
    }
    void Refill(TCursor& cursor) {
        // Eight bytes without 0xFF, the bulk of the data, here; the rest
        // byte by byte (Refill()).
        if (position_ + 8 <= size_) {
            std::uint64_t word;
            __builtin_memcpy(&word, data_ + position_, 8);
            word = __builtin_bswap64(word);
            if (!HasByteFF(word)) {
                const int take = (64 - cursor.bits) >> 3;
                cursor.buffer |= word >> cursor.bits;
                if (position_ != runSourceEnd_) StartRun(position_);
                appended_ += static_cast<std::uint64_t>(take);
                position_ += static_cast<std::size_t>(take);
                runSourceEnd_ = position_;
                cursor.bits += 8 * take;
                return;
            }
        }
        SetCursor(cursor);
        Refill();
        cursor = Cursor();
    }
    // Consumes count (0 to 16) bits that are already buffered.
    std::uint32_t TakeBuffered(int count) {
        if (count == 0) return 0;
        const auto value = static_cast<std::uint32_t>(buffer_ >> (64 - count));
        Skip(count);
        return value;
    }
    void Skip(int count) {
        buffer_ <<= count;
        bits_ -= count;
    }
    // Consumes count (0 to 16) bits and returns them.
    std::uint32_t Take(int count) {
        if (count == 0) return 0;
        if (bits_ < 32) Refill();
        const auto value = static_cast<std::uint32_t>(buffer_ >> (64 - count));
        Skip(count);
        return value;
    }

    // Raises the consumed events in order: the marker callback, or the read
    // error (EStreamError) for a consumed bit past the data.
    void CheckEvents() {
        if (ConsumedBits() > nextEventBit_) RaiseEvents();
    }
    // Byte position just past the last byte of which a bit was consumed.
    std::size_t BytePosition() const;
    // Drops all buffered bits and goes on reading at position.
    void Restart(std::size_t position);
    // Where the next unconsumed bit lies: (source byte << 3) | bit within it,
    // counted from its most significant bit.
    std::uint64_t BitPosition() const;
    // Goes on reading at a position that BitPosition gave.
    void Seek(std::uint64_t bitPosition) {
        Restart(static_cast<std::size_t>(bitPosition >> 3));
        Refill();
        Skip(static_cast<int>(bitPosition & 7));
    }
    const std::uint8_t* Data() const { return data_; }
    std::size_t Size() const { return size_; }

  private:
    static constexpr std::uint64_t kNoEvent = ~std::uint64_t{0};
    enum class TEventKind : std::uint8_t { Marker, End };
    struct TEvent {
        std::uint64_t bit;
        TEventKind kind;
    };

    std::uint64_t ConsumedBits() const { return appended_ * 8 - static_cast<std::uint64_t>(bits_); }
    // Source position of a data byte, counted since the start, that is buffered or next.
    std::size_t SourceOf(std::uint64_t dataByte) const;
    void Refill();
    void AppendByte(std::uint8_t byte, std::size_t sourcePosition);
    void StartRun(std::size_t sourcePosition) {
        runs_[runCount_++ & 15] = {appended_, sourcePosition};
    }
    void PushEvent(TEventKind kind);
    void RaiseEvents();

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_;
    std::uint64_t buffer_ = 0;
    int bits_ = 0;
    std::uint64_t appended_ = 0;  // data bytes put in the buffer since the start
    // Runs of data bytes read from consecutive source bytes, newest last, so
    // that a buffered data byte can be traced back to its source position.
    struct TRun {
        std::uint64_t firstData;
        std::size_t source;
    };
    TRun runs_[16] = {};
    std::uint64_t runCount_ = 0;
    // The source position that would continue the newest run, when the
    // bytes it holds came straight from the source.
    static constexpr std::size_t kNoRun = ~std::size_t{0};
    std::size_t runSourceEnd_ = kNoRun;
    TEvent events_[16] = {};
    int eventHead_ = 0;
    int eventCount_ = 0;
    std::uint64_t nextEventBit_ = kNoEvent;
    bool endQueued_ = false;
    TMarkerEvent onMarker_;
};

// Writes entropy-coded data to the end of a byte vector with a 64-bit
// accumulator, stuffing 0x00 after every 0xFF byte.
class TScanWriter {
  public:
    // A raw writer neither stuffs nor writes markers: its bits are later
    // appended to another writer with AppendRaw.
    explicit TScanWriter(std::vector<std::uint8_t>& out, bool raw = false);
    ~TScanWriter();

    // Appends the low count bits of bits (count 0 to 32), MSB first.
    void Put(std::uint64_t bits, int count) {
        if (count < free_) {
            accumulator_ = (accumulator_ << count) | bits;
            free_ -= count;
            return;
        }
        const int over = count - free_;
        const std::uint64_t word = (free_ == 64 ? 0 : accumulator_ << free_) | (bits >> over);
        EmitWord(word);
        accumulator_ = bits;
        free_ = 64 - over;
    }
    // The writer's state, for a hot loop to keep in registers: Open takes it
    // with room for `room` more bytes, PutBits adds to it, Close gives it back.
    struct TBits {
        std::uint64_t accumulator;
        int free;
        std::uint8_t* out;
        bool raw;
    };
    TBits Open(std::size_t room) {
        if (length_ + room > out_.size()) Grow(room);
        return {accumulator_, free_, out_.data() + length_, raw_};
    }
    void Close(const TBits& bits) {
        accumulator_ = bits.accumulator;
        free_ = bits.free;
        length_ = static_cast<std::size_t>(bits.out - out_.data());
    }
    // One block's worst case: 64 symbols of at most 32 bits, every byte
    // possibly stuffed, plus a marker.
    static constexpr std::size_t kBlockWorstCase = 64 * 4 * 2 + 16;
    // Pads the pending bits to a whole byte with 1-bits and writes them.
    void FlushWithPadding();
    // Writes a marker word (pending bits must have been flushed).
    void PutMarker(std::uint16_t marker);
    // Trims the vector to the bytes written.
    void Finish();
    // The bits put and not yet written: the low `count` bits of `bits`.
    struct TPending {
        std::uint64_t bits;
        int count;
    };
    TPending Pending() const { return {accumulator_, 64 - free_}; }
    // Appends everything a raw writer holds, as if its bits had been put here.
    void AppendRaw(const TScanWriter& raw);
    // The same for the bytes a raw writer wrote and the bits it left pending.
    void AppendRaw(const std::uint8_t* bytes, std::size_t length, TPending pending);
    // Appends stuffed bytes that start on a byte boundary (nothing may be pending).
    void AppendBytes(const std::uint8_t* bytes, std::size_t count);
    std::size_t Length() const { return length_; }

  private:
    void EmitWord(std::uint64_t word);
    // Makes room for `room` more bytes.
    void Grow(std::size_t room);

    std::vector<std::uint8_t>& out_;
    std::size_t length_;
    std::uint64_t accumulator_ = 0;
    int free_ = 64;
    bool raw_;
};

// The eight bytes at p as one big-endian word.
inline std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
    std::uint64_t v;
    __builtin_memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// Writes the eight bytes of word, each 0xFF followed by 0x00; returns the end.
std::uint8_t* PutStuffedWord(std::uint8_t* out, std::uint64_t word);

// Appends the low count bits of bits (count 0 to 32), MSB first.
inline void PutBits(TScanWriter::TBits& b, std::uint64_t bits, int count) {
    if (count < b.free) {
        b.accumulator = (b.accumulator << count) | bits;
        b.free -= count;
        return;
    }
    // free is at most 32 here: a full 64 bits of room takes any count.
    const int over = count - b.free;
    const std::uint64_t word = (b.accumulator << b.free) | (bits >> over);
    if (b.raw || !HasByteFF(word)) {
        const std::uint64_t bigEndian = __builtin_bswap64(word);
        __builtin_memcpy(b.out, &bigEndian, 8);
        b.out += 8;
    } else {
        b.out = PutStuffedWord(b.out, word);
    }
    b.accumulator = bits;
    b.free = 64 - over;
}

}  // namespace plume
