#include "ReferenceCoder.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "JpegRotation/EngineMessages.h"
#include "fixtures/JpegSegments.h"

namespace plume::test {

TRefTable CanonicalTable(const fixtures::THuffmanTable& table) {
    TRefTable result;
    int code = 0;
    std::size_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.bits[length - 1]; ++i, ++k, ++code) {
            result.lengths.push_back(length);
            result.symbols.push_back(k < table.values.size() ? table.values[k] : 0);
            result.codes.push_back(code);
        }
        code <<= 1;
    }
    return result;
}

bool TRefTable::CompleteFor(int tableClass) const {
    std::set<int> needed;
    if (tableClass == 0) {
        for (int size = 0; size <= 11; ++size) needed.insert(size);
    } else {
        needed = {0x00, 0xF0};
        for (int run = 0; run < 16; ++run)
            for (int size = 1; size <= 10; ++size) needed.insert(run << 4 | size);
    }
    const std::set<int> coded(symbols.begin(), symbols.end());
    return coded == needed && Count() == static_cast<int>(needed.size());
}

TRefTable AnnexKTable(int tableClass, int index) {
    return CanonicalTable(fixtures::StandardHuffmanTable(tableClass, index));
}

void TRefScanSetup::ComputeGeometry() {
    int count = 0;
    for (int s = 0; s < 4; ++s) count += h[s] > 0 ? 1 : 0;
    int maxH = 1, maxV = 1;
    for (int s = 0; s < 4; ++s) {
        if (h[s] == 0) continue;
        if (count == 1) h[s] = v[s] = 1;
        maxH = std::max(maxH, h[s]);
        maxV = std::max(maxV, v[s]);
    }
    mcusPerRow = (width + 8 * maxH - 1) / (8 * maxH);
    mcuRows = (height + 8 * maxV - 1) / (8 * maxV);
}

TRefScanSetup ReadScanSetup(const TBytes& jpeg) {
    TRefScanSetup setup;
    const auto frame = fixtures::ParseFrameHeader(jpeg);
    if (!frame || frame->marker != fixtures::kSOF0)
        throw std::runtime_error("ReadScanSetup: no SOF0");
    setup.width = frame->width;
    setup.height = frame->height;
    for (const fixtures::TFrameComponent& c : frame->components) {
        if (c.id < 0 || c.id > 3) throw std::runtime_error("ReadScanSetup: component id above 3");
        setup.h[c.id] = c.h;
        setup.v[c.id] = c.v;
    }
    for (const fixtures::THuffmanTable& table : fixtures::ParseHuffmanTables(jpeg))
        setup.tables[table.tableClass & 1][table.index & 1] = CanonicalTable(table);
    for (const fixtures::TSegmentRef& segment : fixtures::ListSegments(jpeg)) {
        const std::size_t body = segment.BodyOffset();
        if (segment.marker == fixtures::kDRI) {
            setup.hasRestart = true;
            setup.restartInterval = (jpeg[body] << 8) | jpeg[body + 1];
        } else if (segment.marker == fixtures::kSOS) {
            const int count = jpeg[body];
            for (int i = 0; i < count; ++i) {
                const int id = jpeg[body + 1 + 2 * i];
                const int tables = jpeg[body + 2 + 2 * i];
                if (id > 3) throw std::runtime_error("ReadScanSetup: scan component id above 3");
                setup.dcSelector[id] = (tables >> 4) & 1;
                setup.acSelector[id] = tables & 1;
            }
        }
    }
    setup.ComputeGeometry();
    return setup;
}

std::size_t ScanStart(const TBytes& jpeg) {
    const auto offset = fixtures::ScanDataOffset(jpeg);
    if (!offset) throw std::runtime_error("ScanStart: no SOS segment");
    return *offset;
}

// ---- Decoding ----

int TRefDecoder::DecodeSymbol(int tableClass, int tableIndex) {
    const TRefTable& table = setup_.tables[tableClass][tableIndex];
    int code = 0, length = 0, i = 0;
    while (i < table.Count()) {
        ++length;
        code = code * 2 + in_.ReadBit();
        while (i < table.Count() && table.lengths[i] == length) {
            if (table.codes[i] == code) return table.symbols[i];
            ++i;
        }
    }
    return -1;
}

bool TRefDecoder::Fail() {
    if (onMessage) onMessage(kMsgHuffmanBlock, kLevelError);
    return false;
}

namespace {

// T.81 F.2.2.1, EXTEND.
std::int32_t Extend(std::int32_t v, int s) {
    return s > 0 && v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
}

}  // namespace

bool TRefDecoder::DecodeBlock(int component, TCoefBlock& block) {
    const int s = DecodeSymbol(0, setup_.dcSelector[component]);
    if (s < 0) return Fail();
    if (s > 11) {
        if (onMessage) onMessage(kMsgDcSizeOutOfRange, kLevelError);
        return false;
    }
    const std::int32_t dc = Extend(in_.ReadBits(s), s) + predictor_[component];
    if (dc < -32768 || dc > 32767) {
        if (onMessage) onMessage(kMsgDcValueOutOfRange, kLevelError);
        return false;
    }
    block[0] = static_cast<std::int16_t>(dc);
    predictor_[component] = dc;
    int k = 1;
    for (;;) {
        const int rs = DecodeSymbol(1, setup_.acSelector[component]);
        if (rs < 0) return Fail();
        if (rs == 0) break;
        const int run = rs >> 4, size = rs & 15;
        for (int i = 0; i < run; ++i) {
            if (k > 63) return Fail();
            block[k++] = 0;
        }
        const std::int32_t value = Extend(in_.ReadBits(size), size);
        if (k > 63) return Fail();
        block[k++] = static_cast<std::int16_t>(value);
        if (k == 64) break;
    }
    for (; k < 64; ++k) block[k] = 0;
    return true;
}

bool TRefDecoder::DecodeScan(TRefStore& store) {
    for (auto& p : predictor_) p = 0;
    int restartCounter = 0;
    for (int s = 0; s < 4; ++s)
        store[s].assign(setup_.h[s] > 0
                            ? static_cast<std::size_t>(setup_.BlocksPerRow(s)) * setup_.BlockRows(s)
                            : 0,
                        TCoefBlock{});
    for (int y = 0; y < setup_.mcuRows; ++y)
        for (int x = 0; x < setup_.mcusPerRow; ++x) {
            for (int s = 0; s < 4; ++s)
                for (int bv = 0; bv < setup_.v[s]; ++bv)
                    for (int bh = 0; bh < setup_.h[s]; ++bh) {
                        const std::size_t index = static_cast<std::size_t>(y * setup_.v[s] + bv) *
                                                      setup_.BlocksPerRow(s) +
                                                  x * setup_.h[s] + bh;
                        if (!DecodeBlock(s, store[s][index])) return false;
                    }
            if (!setup_.hasRestart) continue;
            ++restartCounter;
            const bool last = y == setup_.mcuRows - 1 && x == setup_.mcusPerRow - 1;
            if (!last && restartCounter == setup_.restartInterval) {
                for (auto& p : predictor_) p = 0;
                restartCounter = 0;
                in_.ReadWord();
            }
        }
    return true;
}

// ---- Encoding ----

TRefEncoder::TRefEncoder(TOutBitStreamFile& out, const TRefScanSetup& setup)
    : out_(out), setup_(setup) {
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t) {
            for (int& entry : symbolIndex_[c][t]) entry = -1;
            const TRefTable& table = setup.tables[c][t];
            for (int i = 0; i < table.Count(); ++i) symbolIndex_[c][t][table.symbols[i] & 0xFF] = i;
        }
}

int TRefEncoder::SizeCategory(std::uint32_t magnitude) {
    const auto bitLength = [](std::uint32_t m) {
        int bits = 0;
        for (; m > 0; m >>= 1) ++bits;
        return bits;
    };
    return magnitude < 256 ? bitLength(magnitude) : bitLength(magnitude >> 8) + 8;
}

void TRefEncoder::WriteCode(int tableClass, int tableIndex, int symbol) {
    const int i = symbolIndex_[tableClass][tableIndex][symbol & 0xFF];
    symbolUsed[tableClass][tableIndex][symbol & 0xFF] = true;
    if (i < 0) {
        missingSymbol = true;
        return;
    }
    const TRefTable& table = setup_.tables[tableClass][tableIndex];
    out_.WriteBits(static_cast<std::uint16_t>(table.codes[i]), table.lengths[i]);
}

void TRefEncoder::EncodeDC(int tableIndex, std::int32_t diff) {
    if (diff == 0) {
        WriteCode(0, tableIndex, 0);
        return;
    }
    const int s = SizeCategory(static_cast<std::uint32_t>(diff < 0 ? -diff : diff));
    WriteCode(0, tableIndex, s);
    if (diff < 0) diff -= 1;
    out_.WriteBits(static_cast<std::uint16_t>(diff), s);
}

void TRefEncoder::EncodeAC(int tableIndex, std::int32_t value, std::int32_t run) {
    if (value == 0) {
        WriteCode(1, tableIndex, run << 4);
        return;
    }
    const int s = SizeCategory(static_cast<std::uint32_t>(value < 0 ? -value : value));
    WriteCode(1, tableIndex, (run << 4) + s);
    if (value < 0) value -= 1;
    out_.WriteBits(static_cast<std::uint16_t>(value), s);
}

void TRefEncoder::EncodeBlock(int component, const TCoefBlock& block) {
    EncodeDC(setup_.dcSelector[component], block[0] - predictor_[component]);
    predictor_[component] = block[0];
    const int t = setup_.acSelector[component];
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        if (block[k] == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) EncodeAC(t, 0, 15);
        EncodeAC(t, block[k], run);
        run = 0;
    }
    if (run > 0) EncodeAC(t, 0, 0);
}

void TRefEncoder::EncodeScan(const TRefStore& store, const std::vector<int>& rstNumbers) {
    for (auto& p : predictor_) p = 0;
    int restartCounter = 0, markers = 0;
    for (int y = 0; y < setup_.mcuRows; ++y)
        for (int x = 0; x < setup_.mcusPerRow; ++x) {
            for (int s = 0; s < 4; ++s)
                for (int bv = 0; bv < setup_.v[s]; ++bv)
                    for (int bh = 0; bh < setup_.h[s]; ++bh)
                        EncodeBlock(s, store[s][static_cast<std::size_t>(y * setup_.v[s] + bv) *
                                                    setup_.BlocksPerRow(s) +
                                                x * setup_.h[s] + bh]);
            if (!setup_.hasRestart) continue;
            ++restartCounter;
            const bool last = y == setup_.mcuRows - 1 && x == setup_.mcusPerRow - 1;
            if (!last && restartCounter == setup_.restartInterval) {
                for (auto& p : predictor_) p = 0;
                restartCounter = 0;
                const int number =
                    rstNumbers.empty() ? markers % 8 : rstNumbers[markers % rstNumbers.size()];
                out_.WriteWord(static_cast<std::uint16_t>(0xFFD0 + (number & 7)));
                ++markers;
            }
        }
}

// ---- Transforms ----

namespace {

// Walks the diagonals u + v = d: upwards (v falling) when d is even.
struct TZigzag {
    TFrequency frequency[64];
    int position[8][8];
    TZigzag() {
        int k = 0;
        for (int d = 0; d < 15; ++d) {
            const int low = std::max(0, d - 7), high = std::min(d, 7);
            for (int i = 0; i <= high - low; ++i, ++k) {
                const int v = d % 2 == 0 ? high - i : low + i;
                frequency[k] = {v, d - v};
                position[v][d - v] = k;
            }
        }
    }
};
const TZigzag kZigzag;

}  // namespace

TFrequency FrequencyOf(int k) {
    return kZigzag.frequency[k];
}

int ZigzagPosition(int v, int u) {
    return kZigzag.position[v][u];
}

TCoefBlock RefTransformBlock(const TCoefBlock& block, int mode) {
    TCoefBlock out{};
    for (int k = 0; k < 64; ++k) {
        const auto [v, u] = FrequencyOf(k);
        const bool oddU = u % 2 == 1, oddV = v % 2 == 1;
        std::int16_t value = block[k];
        bool negate = false;
        switch (mode) {
            case 1:
                value = block[ZigzagPosition(u, v)], negate = oddU;
                break;
            case 2:
                value = block[ZigzagPosition(u, v)], negate = oddV;
                break;
            case 3:
                negate = oddU != oddV;
                break;
            case 4:
                negate = oddU;
                break;
            case 5:
                negate = oddV;
                break;
            case 6:
                value = block[ZigzagPosition(u, v)];
                break;
            case 7:
                value = block[ZigzagPosition(u, v)], negate = oddU != oddV;
                break;
            default:
                break;
        }
        out[k] = negate ? static_cast<std::int16_t>(-value) : value;
    }
    return out;
}

std::size_t RefSourceIndex(int mode, std::size_t x, std::size_t y, std::size_t w, std::size_t hb) {
    switch (mode) {
        case 1:
            return (w - 1 - x) * hb + y;
        case 2:
            return x * hb + (hb - 1 - y);
        case 3:
            return w * hb - 1 - (y * w + x);
        case 4:
            return y * w + (w - 1 - x);
        case 5:
            return (hb - 1 - y) * w + x;
        case 6:
            return x * hb + y;
        case 7:
            return (w - 1 - x) * hb + (hb - 1 - y);
        default:
            return y * w + x;
    }
}

TRefScanSetup RefOutputSetup(const TRefScanSetup& input, int mode) {
    TRefScanSetup out = input;
    if (mode == 1 || mode == 2 || mode == 6 || mode == 7) {
        std::swap(out.width, out.height);
        std::swap(out.mcusPerRow, out.mcuRows);
        for (int s = 0; s < 4; ++s) std::swap(out.h[s], out.v[s]);
    }
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t)
            if (!out.tables[c][t].CompleteFor(c)) out.tables[c][t] = AnnexKTable(c, t);
    return out;
}

TRefStore RefTransformStore(const TRefScanSetup& input, const TRefStore& store, int mode) {
    const TRefScanSetup out = RefOutputSetup(input, mode);
    TRefStore result;
    for (int s = 0; s < 4; ++s) {
        if (out.h[s] == 0) continue;
        const std::size_t w = static_cast<std::size_t>(out.BlocksPerRow(s));
        const std::size_t hb = static_cast<std::size_t>(out.BlockRows(s));
        result[s].resize(w * hb);
        for (std::size_t y = 0; y < hb; ++y)
            for (std::size_t x = 0; x < w; ++x)
                result[s][y * w + x] =
                    RefTransformBlock(store[s][RefSourceIndex(mode, x, y, w, hb)], mode);
    }
    return result;
}

// ---- The scan part of a rotation ----

TRefRotation ReferenceRotate(const TBytes& jpeg, int mode) {
    TRefRotation result;
    const TRefScanSetup setup = ReadScanSetup(jpeg);
    TMemoryStream in(jpeg);
    const TMessageEvent record = [&result](const std::string& text, int level) {
        result.messages.push_back({text, level});
    };
    TInBitStreamFile bits(in, record);
    in.SetPosition(ScanStart(jpeg));
    TRefDecoder decoder(bits, setup);
    decoder.onMessage = record;
    bool decoded = false;
    try {
        decoded = decoder.DecodeScan(result.decoded);
    } catch (const EStreamError& error) {
        result.readError = true;
        result.readErrorText = error.what();
        return result;
    }
    result.scanEnd = in.Position();
    result.ok = decoded;
    for (const TMessage& m : result.messages) result.ok = result.ok && m.level != kLevelError;
    if (!result.ok) return result;

    const TRefScanSetup outSetup = RefOutputSetup(setup, mode);
    const TRefStore outStore = RefTransformStore(setup, result.decoded, mode);
    TMemoryStream out;
    TOutBitStreamFile outBits(out, {});
    TRefEncoder encoder(outBits, outSetup);
    encoder.EncodeScan(outStore);
    result.missingSymbol = encoder.missingSymbol;
    result.ok = !encoder.missingSymbol;
    // The last partial byte is padded with 1-bits even when nothing follows.
    if (outBits.HasPendingBits()) outBits.FlushBits();
    outBits.WriteBytes(jpeg.data() + result.scanEnd,
                       static_cast<std::int32_t>(jpeg.size() - result.scanEnd));
    result.scan = out.Bytes();
    return result;
}

}  // namespace plume::test
