// Noting each symbol costs about what coding it costs, and coding the noted
// symbols with the made tables is a lookup each: the pass takes little more
// than the index pass, where counting from a store of every coefficient
// would walk them all twice more.
#include "JpegRotation/scan/CountedPass.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <memory>
#include <new>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/entropy/BlockCoder.h"
#include "JpegRotation/entropy/ScanParts.h"
#include "JpegRotation/entropy/TableFromCounts.h"
#include "JpegRotation/scan/BlockSource.h"
#include "JpegRotation/scan/IndexPass.h"
#include "JpegRotation/threads/TaskLoop.h"

namespace plume {
namespace {

constexpr int kMaxDcDifferenceSize = 11;  // T.81 F.1.2.1, 8-bit samples
constexpr int kMaxAcSize = 10;            // T.81 F.1.2.2

// A noted symbol: its value bits (0-15), the symbol (16-23) and the table
// that codes it (24-26: the DC selector, 2 + the AC selector), or a restart
// marker (kRestart, its number as the symbol).
constexpr std::uint32_t kRestart = 4;
std::uint32_t Noted(std::uint32_t table, int symbol, std::uint32_t bits) {
    return table << 24 | static_cast<std::uint32_t>(symbol) << 16 | bits;
}

// The most symbols a block gives: its DC difference, 63 coefficients, three
// runs of sixteen zeros and an end of block.
constexpr std::size_t kMaxBlockSymbols = 68;

// A part of the output: its MCUs, symbols, counts and coded bytes. The
// symbols' memory is taken for the most a part can give, and touched only
// as far as it gives.
struct TPart {
    struct TFree {
        void operator()(void* memory) const { std::free(memory); }
    };
    std::int64_t first = 0, last = 0;
    std::unique_ptr<std::uint32_t, TFree> symbols;
    std::size_t symbolCount = 0;
    TSymbolCounts counts;
    bool outOfRange = false;
    TCodedPart coded;

    void Reserve(std::size_t blocks, const TScanOptions& options) {
        const std::size_t bytes = blocks * kMaxBlockSymbols * sizeof(std::uint32_t);
        symbols.reset(static_cast<std::uint32_t*>(std::malloc(bytes)));
        if (!symbols) throw std::bad_alloc();
        if (options.adviseLargeBuffer) options.adviseLargeBuffer(symbols.get(), bytes);
    }
};

class TCountedScan {
  public:
    TCountedScan(const TScanJob& job, const TScanIndex& index)
        : job_(job),
          plan_(MakePlan(job.frame, job.tables)),
          layout_(TurnedMcuLayout(job.output, job.turn)),
          sinks_(std::make_unique<TSinkTables<TCodedBlock>>(job.tables)),
          decoder_(job, plan_, layout_, *sinks_),
          index_(index) {}

    // The symbols of the part's blocks, in the output's order, counted; false
    // when an MCU does not decode after all (the index was made from bits
    // that decoded cleanly).
    bool Note(TPart& part) const {
        const TOutputGeometry& output = job_.output;
        const std::int64_t perRow = output.mcusPerRow, total = output.McuCount();
        const std::int32_t interval = job_.frame.restartInterval;
        TIndexSource<TCodedBlock> source(job_, decoder_, index_.starts);
        std::int32_t predictor[kSlots] = {};
        if (part.first > 0 && (interval == 0 || part.first % interval != 0)) {
            // The last block of each slot in the MCU before the part; DC
            // never moves or changes sign.
            const int row = static_cast<int>((part.first - 1) / perRow) + output.firstRow;
            const int col = static_cast<int>((part.first - 1) % perRow) + output.firstColumn;
            source.Load(row, col);
            for (int s = 0; s < kSlots; ++s)
                if (output.h[s] > 0)
                    predictor[s] = source.Dc(s, static_cast<std::size_t>(col + 1) * output.h[s] - 1,
                                             static_cast<std::size_t>(row + 1) * output.v[s] - 1);
        }
        int restartNumber = interval > 0 ? static_cast<int>((part.first / interval) & 7) : 0;
        for (std::int64_t mcu = part.first; mcu < part.last; ++mcu) {
            const int row = static_cast<int>(mcu / perRow) + output.firstRow;
            const int col = static_cast<int>(mcu % perRow) + output.firstColumn;
            source.Load(row, col);
            for (int s = 0; s < kSlots; ++s) {
                const TSlot& slot = job_.frame.slot[s];
                for (int v = 0; v < output.v[s]; ++v)
                    for (int h = 0; h < output.h[s]; ++h) {
                        const TCodedBlock& block =
                            source.At(s, static_cast<std::size_t>(col) * output.h[s] + h,
                                      static_cast<std::size_t>(row) * output.v[s] + v);
                        NoteBlock(block, predictor[s], slot.dcTable, slot.acTable, part);
                    }
            }
            if (interval > 0 && (mcu + 1) % interval == 0 && mcu != total - 1) {
                part.symbols.get()[part.symbolCount++] = Noted(kRestart, restartNumber, 0);
                restartNumber = (restartNumber + 1) & 7;
                std::fill(std::begin(predictor), std::end(predictor), 0);
            }
        }
        return !source.failed;
    }

    // The part's symbols coded with the made tables; `bytes`: about as many
    // as the part will take.
    static void Code(const TMadeTables& tables, bool raw, std::size_t bytes, TPart& part) {
        part.coded.bytes.reserve(bytes);
        const THuffmanEncodeTable* table[4] = {&tables.dc[0], &tables.dc[1], &tables.ac[0],
                                               &tables.ac[1]};
        TScanWriter writer(part.coded.bytes, raw);
        constexpr std::size_t kChunk = 4096;
        const std::uint32_t* symbols = part.symbols.get();
        for (std::size_t i = 0; i < part.symbolCount;) {
            const std::size_t end = std::min(part.symbolCount, i + kChunk);
            TScanWriter::TBits bits = writer.Open(8 * (end - i) + 16);
            for (; i < end; ++i) {
                const std::uint32_t noted = symbols[i];
                const std::uint32_t kind = noted >> 24, symbol = (noted >> 16) & 0xFF;
                if (kind == kRestart) {
                    writer.Close(bits);
                    writer.FlushWithPadding();
                    writer.PutMarker(static_cast<std::uint16_t>(0xFFD0 + symbol));
                    bits = writer.Open(8 * (end - i) + 16);
                    continue;
                }
                const int size = static_cast<int>(kind < 2 ? symbol : symbol & 15);
                const std::uint32_t entry = table[kind]->entry[symbol];
                PutBits(bits, (std::uint64_t{entry >> 8} << size) | (noted & 0xFFFF),
                        static_cast<int>(entry & 0xFF) + size);
            }
            writer.Close(bits);
        }
        part.symbols.reset();
        FinishPart(writer, raw, part.coded);
    }

  private:
    // A block's symbols (T.81 F.1.2.1, F.1.2.2): its DC difference, then the
    // run and size of each coefficient, sixteen zeros at a time, and an end
    // of block after the last.
    static void NoteBlock(const TCodedBlock& block, std::int32_t& predictor, int dcTable,
                          int acTable, TPart& part) {
        std::uint32_t* out = part.symbols.get() + part.symbolCount;
        std::uint32_t(&dcCounts)[256] = part.counts.dc[dcTable];
        std::uint32_t(&acCounts)[256] = part.counts.ac[acTable];
        int size;
        std::uint32_t bits;
        SizeAndBits(block.dc - predictor, size, bits);
        predictor = block.dc;
        if (size > kMaxDcDifferenceSize) part.outOfRange = true;
        *out++ = Noted(static_cast<std::uint32_t>(dcTable), size, bits);
        ++dcCounts[size];
        const auto ac = static_cast<std::uint32_t>(2 + acTable);
        int last = 0;
        for (std::uint64_t rest = block.mask; rest != 0; rest &= rest - 1) {
            const int k = std::countr_zero(rest);
            int run = k - last - 1;
            last = k;
            for (; run > 15; run -= 16) {
                *out++ = Noted(ac, 0xF0, 0);
                ++acCounts[0xF0];
            }
            const int valueSize = static_cast<int>(block.ac[k] & 0xFF);
            if (valueSize > kMaxAcSize) part.outOfRange = true;
            const int symbol = (run << 4) | (valueSize & 15);
            *out++ = Noted(ac, symbol, block.ac[k] >> 8);
            ++acCounts[symbol];
        }
        if (last != 63) {
            *out++ = Noted(ac, 0x00, 0);
            ++acCounts[0x00];
        }
        part.symbolCount = static_cast<std::size_t>(out - part.symbols.get());
    }

    const TScanJob& job_;
    const TMcuPlan plan_;
    const TMcuLayout layout_;
    const std::unique_ptr<TSinkTables<TCodedBlock>> sinks_;
    const TTurnedMcuDecoder<TCodedBlock> decoder_;
    const TScanIndex& index_;
};

// The output's MCUs in two parts per thread, whole restart intervals where
// there are markers: each part takes the memory of its symbols at once.
std::vector<TPart> SplitOutput(const TScanJob& job, int threads) {
    const std::int64_t total = job.output.McuCount();
    const std::int64_t wanted = 2 * threads;
    const std::int64_t unit = job.frame.restartInterval > 0 ? job.frame.restartInterval : 1;
    std::vector<TPart> parts;
    std::int64_t first = 0;
    for (std::int64_t p = 1; p <= wanted; ++p) {
        std::int64_t at = p == wanted ? total : total * p / wanted;
        if (at != total) at -= at % unit;
        if (at <= first) continue;
        parts.emplace_back();
        parts.back().first = first;
        parts.back().last = at;
        first = at;
    }
    return parts;
}

}  // namespace

bool WriteCountedScan(const TScanJob& job, TPassEvents& events, std::vector<std::uint8_t>& out,
                      std::size_t scanHeaderAt, TScanResult& result) {
    result = {TScanPass::Counted, 0, 0};
    TScanIndex index;
    const bool indexed = IndexScan(job, false, events, index);
    result.speculatedMcus = index.speculatedMcus;
    if (!indexed || events.ErrorReported()) return false;
    result.scanEnd = index.scanEnd;

    const TOutputGeometry& output = job.output;
    const int threads = job.CodingThreads(output.Blocks());
    std::vector<TPart> parts = SplitOutput(job, threads);
    const TCountedScan scan(job, index);
    // Progress: the output's rows, half for noting and half for coding.
    std::atomic<std::int64_t> done{0};
    int nextRow = 0;
    const auto report = [&] {
        const std::int64_t row = done / (2 * output.mcusPerRow);
        for (; nextRow <= row && nextRow < output.mcuRows; ++nextRow)
            events.Progress(output.progressBase + nextRow);
    };
    std::vector<char> noted(parts.size(), 0);
    RunTasks(
        parts.size(), threads,
        [&](std::size_t p) {
            parts[p].Reserve(static_cast<std::size_t>(parts[p].last - parts[p].first) *
                                 static_cast<std::size_t>(job.frame.McuBlocks()),
                             job.options);
            noted[p] = scan.Note(parts[p]);
            done += parts[p].last - parts[p].first;
        },
        report);
    if (std::find(noted.begin(), noted.end(), 0) != noted.end()) {
        events.Error(kMsgHuffmanBlock);
        return false;
    }
    const auto counts = std::make_unique<TSymbolCounts>();
    for (const TPart& part : parts) {
        if (part.outOfRange) {
            events.Error(kMsgOutputValueOutOfRange);
            return false;
        }
        counts->Add(part.counts);
    }
    const auto tables = std::make_unique<TMadeTables>();
    MakeTables(*counts, *tables);

    // The tables go before the scan header that the output holds already.
    const std::vector<std::uint8_t> scanHeader(
        out.begin() + static_cast<std::ptrdiff_t>(scanHeaderAt), out.end());
    out.resize(scanHeaderAt);
    AppendDht(*tables, out);
    out.insert(out.end(), scanHeader.begin(), scanHeader.end());

    const bool raw = job.frame.restartInterval == 0;
    RunTasks(
        parts.size(), threads,
        [&](std::size_t p) {
            // A part takes about its share of the input's bytes.
            const auto share =
                static_cast<std::size_t>(static_cast<double>(job.size) *
                                         static_cast<double>(parts[p].last - parts[p].first) /
                                         static_cast<double>(output.McuCount()));
            TCountedScan::Code(*tables, raw, share + share / 4 + 65536, parts[p]);
            done += parts[p].last - parts[p].first;
        },
        report);
    done = 2 * output.McuCount();
    report();
    std::vector<TCodedPart> coded;
    coded.reserve(parts.size());
    for (TPart& part : parts) coded.push_back(std::move(part.coded));
    out.reserve(out.size() + job.size + job.size / 16);
    JoinParts(coded, out);
    return true;
}

}  // namespace plume
