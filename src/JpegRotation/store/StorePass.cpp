#include "JpegRotation/store/StorePass.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/entropy/TableFromCounts.h"
#include "JpegRotation/scan/ScanPass.h"
#include "JpegRotation/store/CoefficientStore.h"
#include "JpegRotation/store/ScanDecoder.h"
#include "JpegRotation/store/ScanEncoder.h"
#include "JpegRotation/store/ScanScript.h"
#include "JpegRotation/threads/TaskLoop.h"
#include "JpegRotation/threads/ThreadPolicy.h"

namespace plume {
namespace {

// A scan of the input as read: its header, the tables defined when it began
// (kept only where the output codes with them: a sequential frame has at
// most four scans), and the segments before it that the output keeps in its
// place.
struct TInputScan {
    TScanHeader header;
    THuffmanRecords tables;
    std::vector<std::uint8_t> before;
    std::uint64_t bytes = 0;  // of its entropy-coded data
};

void AppendWord(std::vector<std::uint8_t>& out, std::uint32_t word) {
    out.push_back(static_cast<std::uint8_t>(word >> 8));
    out.push_back(static_cast<std::uint8_t>(word));
}

// A DHT segment of the tables a scan uses (T.81 B.2.4.2); tables[c][t]
// with no symbols are left out.
void AppendDht(std::vector<std::uint8_t>& out, const TTableSpec (&tables)[2][4]) {
    std::uint32_t length = 2;
    for (const auto& ofClass : tables)
        for (const TTableSpec& table : ofClass)
            if (!table.symbols.empty())
                length += 17 + static_cast<std::uint32_t>(table.symbols.size());
    AppendWord(out, kDHT);
    AppendWord(out, length);
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 4; ++t) {
            const TTableSpec& table = tables[c][t];
            if (table.symbols.empty()) continue;
            out.push_back(static_cast<std::uint8_t>(c << 4 | t));
            out.insert(out.end(), std::begin(table.bits), std::end(table.bits));
            out.insert(out.end(), table.symbols.begin(), table.symbols.end());
        }
}

// The scan header (T.81 B.2.3).
void AppendSos(std::vector<std::uint8_t>& out, const TScanHeader& scan,
               const TFrameRecord& record) {
    AppendWord(out, kSOS);
    AppendWord(out, 6 + 2 * static_cast<std::uint32_t>(scan.count));
    out.push_back(static_cast<std::uint8_t>(scan.count));
    for (int i = 0; i < scan.count; ++i) {
        out.push_back(record.slotIds[scan.slot[i]]);
        out.push_back(static_cast<std::uint8_t>(scan.dcTable[i] << 4 | scan.acTable[i]));
    }
    out.push_back(static_cast<std::uint8_t>(scan.ss));
    out.push_back(static_cast<std::uint8_t>(scan.se));
    out.push_back(static_cast<std::uint8_t>(scan.ah << 4 | scan.al));
}

TScriptFrame ScriptFrameOf(const THeader& header) {
    const TFrameRecord& record = header.frame;
    TScriptFrame frame;
    frame.count = record.frame.componentCount;
    for (int i = 0; i < frame.count; ++i)
        for (int s = 0; s < kSlots; ++s)
            if (record.frame.slot[s].Present() && record.slotIds[s] == record.componentIds[i])
                frame.slot[i] = s;
    // libjpeg's guess of the colour space of three components.
    const std::uint8_t* id = record.componentIds;
    frame.ycbcr = header.jfif                  ? true
                  : header.adobeTransform >= 0 ? header.adobeTransform != 0
                                               : !(id[0] == 'R' && id[1] == 'G' && id[2] == 'B');
    return frame;
}

class TStorePass {
  public:
    TStorePass(const TStoreJob& job, TPassEvents& events)
        : job_(job),
          frame_(job.header.frame.frame),
          events_(events),
          store_(job.geometry, job.options.AdviseLargeBuffer),
          progress_(events, static_cast<int>(frame_.McuRows()),
                    static_cast<int>(job.geometry.mcuRows), job.io.in.Stream().Position(),
                    job.io.in.Stream().Size()) {}

    bool Run(std::size_t& scanEnd, TPassReport& report) {
        if (!ReadScans(scanEnd)) return false;
        std::vector<TScanHeader> script;
        for (const TInputScan& scan : scans_) script.push_back(scan.header);
        const bool made = job_.context.tablesFromCounts;
        const TScriptFrame scriptFrame = ScriptFrameOf(job_.header);
        const bool kept =
            frame_.kind != TFrameKind::Progressive || ScriptSurvivesTurn(script, job_.context.turn);
        if (!kept) {
            script = StandardScript(scriptFrame, scans_.front().header.restartInterval);
        } else if (made) {
            for (TScanHeader& scan : script) SelectMadeTables(scriptFrame, scan);
        }
        report.pass = TScanPass::Store;
        report.scriptReplaced = !kept;
        report.scansWritten = static_cast<int>(script.size());
        return WriteScans(script, kept, made);
    }

  private:
    // Every scan into the store, and the segments between them. A sequential
    // frame ends with the scan that codes its last component: what follows
    // is kept as it is, as after the one scan of a baseline file.
    bool ReadScans(std::size_t& scanEnd) {
        TMemoryStream& in = job_.io.in.Stream();
        THeader& header = job_.header;
        std::vector<std::uint8_t>& out = job_.io.out.Stream().Bytes();
        out.resize(static_cast<std::size_t>(header.scanHeaderAt));
        scans_.push_back({header.frame.scan, {}, {}});
        KeepScanTables();
        for (;;) {
            const TScanInput input{
                frame_,    scans_.back().header, header.tables, job_.context.turn, in.Memory(),
                in.Size(), in.Position()};
            std::size_t end = 0;
            if (!DecodeScan(input, store_, events_, progress_, end)) return false;
            scans_.back().bytes = end - input.start;
            in.SetPosition(end);
            scanEnd = end;
            if (!job_.context.anyJpeg || AllCoded()) break;
            TMemoryStream gap;
            TOutBitStreamFile gapOut(
                gap, [this](const std::string& text, int level) { events_.Message(text, level); });
            TSegmentIo gapIo{job_.io.in, gapOut};
            bool ended = false;
            if (!ReadBetweenScans(gapIo, job_.context, header, events_, ended)) return false;
            if (ended) {
                scanEnd = in.Position();
                break;
            }
            scans_.push_back({header.frame.scan, {}, std::move(gap.Bytes())});
            scans_.back().before.resize(static_cast<std::size_t>(header.scanHeaderAt));
            KeepScanTables();
        }
        progress_.ReadingDone();
        return !events_.ErrorReported();
    }

    void KeepScanTables() {
        if (job_.context.tablesFromCounts) return;
        const THuffmanRecords& tables = job_.header.tables;
        std::copy(&tables[0][0], &tables[0][0] + 2 * kTableIndexes, &scans_.back().tables[0][0]);
    }

    // A sequential frame whose every component a scan has coded.
    bool AllCoded() const {
        if (frame_.kind == TFrameKind::Progressive) return false;
        for (int s = 0; s < kSlots; ++s)
            if (frame_.slot[s].Present() && !job_.header.frame.progression.Coded(s)) return false;
        return true;
    }

    // What one output scan comes to: its DHT segment, when its tables are
    // made for it, and its entropy-coded data.
    struct TScanOutput {
        std::vector<std::uint8_t> tables, data;
        TScanCoding coding = TScanCoding::Ok;
    };

    // The output's scans are coded apart from one another, on as many
    // threads as the file may use, the largest first; then they are put in
    // order, each after what the output keeps before it.
    bool WriteScans(const std::vector<TScanHeader>& script, bool kept, bool made) {
        const TOutputGeometry& geometry = job_.geometry;
        TStoreOutput output{store_, geometry, frame_.kind == TFrameKind::Progressive,
                            job_.trim.width, job_.trim.height};
        for (int s = 0; s < kSlots; ++s) {
            output.maxH = std::max(output.maxH, geometry.h[s]);
            output.maxV = std::max(output.maxV, geometry.v[s]);
        }
        std::uint64_t blocks = 0;
        std::vector<std::uint64_t> cost(script.size());
        for (std::size_t j = 0; j < script.size(); ++j) {
            const std::uint64_t scanBlocks = output.ScanBlocks(script[j]);
            blocks += scanBlocks;
            // What an input scan took is what its copy will take; a scan of
            // the standard script costs about as much as the coefficients
            // it walks.
            cost[j] =
                kept ? scans_[j].bytes
                     : scanBlocks * static_cast<std::uint64_t>(script[j].se - script[j].ss + 1);
        }
        progress_.SetOutputBlocks(blocks);
        std::vector<std::size_t> order(script.size());
        for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
        std::stable_sort(order.begin(), order.end(),
                         [&cost](std::size_t a, std::size_t b) { return cost[a] > cost[b]; });

        std::vector<TScanOutput> coded(script.size());
        std::atomic<std::uint64_t> written{0};
        std::uint64_t reported = 0;
        const TEngineOptions& options = job_.options;
        const int threads = static_cast<std::int64_t>(blocks) >= options.ParallelMinBlocks
                                ? ThreadsToUse(options.AllowParallelCoding, options.ThreadCount)
                                : 1;
        RunTasks(
            order.size(), threads,
            [&](std::size_t i) {
                const std::size_t j = order[i];
                coded[j] = CodeOne(output, script[j], made ? nullptr : &scans_[j].tables);
                written += output.ScanBlocks(script[j]);
            },
            [&] {
                const std::uint64_t now = written;
                progress_.Written(now - reported);
                reported = now;
            });

        TMemoryStream& stream = job_.io.out.Stream();
        std::vector<std::uint8_t>& out = stream.Bytes();
        for (std::size_t j = 0; j < script.size(); ++j) {
            if (!Report(coded[j].coding)) return false;
            if (kept) out.insert(out.end(), scans_[j].before.begin(), scans_[j].before.end());
            out.insert(out.end(), coded[j].tables.begin(), coded[j].tables.end());
            AppendSos(out, script[j], job_.header.frame);
            out.insert(out.end(), coded[j].data.begin(), coded[j].data.end());
            std::vector<std::uint8_t>().swap(coded[j].data);
        }
        progress_.WritingDone();
        stream.SetPosition(out.size());
        return true;
    }

    struct TScanTables {
        THuffmanEncodeTable dc[kTableIndexes], ac[kTableIndexes];
    };

    // One scan coded: with tables made from its own symbol counts, or with
    // the input's (`input`).
    static TScanOutput CodeOne(const TStoreOutput& output, const TScanHeader& scan,
                               const THuffmanRecords* input) {
        TScanOutput result;
        const auto tables = std::make_unique<TScanTables>();
        if (input == nullptr) {
            result.coding = MakeTables(output, scan, result.tables, *tables);
            if (result.coding != TScanCoding::Ok) return result;
        } else {
            KeepTables(*input, *tables);
        }
        result.coding = CodeScan(output, scan, tables->dc, tables->ac, result.data);
        return result;
    }

    // Tables made from the scan's own symbol counts, and their DHT segment.
    static TScanCoding MakeTables(const TStoreOutput& output, const TScanHeader& scan,
                                  std::vector<std::uint8_t>& out, TScanTables& tables) {
        const auto counts = std::make_unique<TSymbolCounts>();
        const TScanCoding counted = CountScan(output, scan, *counts);
        if (counted != TScanCoding::Ok) return counted;
        TTableSpec specs[2][kTableIndexes];
        for (int t = 0; t < kTableIndexes; ++t) {
            const bool dcUsed = std::any_of(std::begin(counts->dc[t]), std::end(counts->dc[t]),
                                            [](std::uint32_t n) { return n != 0; });
            const bool acUsed = std::any_of(std::begin(counts->ac[t]), std::end(counts->ac[t]),
                                            [](std::uint32_t n) { return n != 0; });
            if (dcUsed) specs[0][t] = TableFromCounts(counts->dc[t]);
            if (acUsed) specs[1][t] = TableFromCounts(counts->ac[t]);
            BuildEncodeTable(CanonicalRecord(specs[0][t].bits, specs[0][t].symbols.data(),
                                             static_cast<int>(specs[0][t].symbols.size())),
                             tables.dc[t]);
            BuildEncodeTable(CanonicalRecord(specs[1][t].bits, specs[1][t].symbols.data(),
                                             static_cast<int>(specs[1][t].symbols.size())),
                             tables.ac[t]);
        }
        if (scan.UsesDcTables() || scan.UsesAcTables()) AppendDht(out, specs);
        return TScanCoding::Ok;
    }

    // The input's tables of the scan, each complete one as it is and any
    // other replaced by its Annex K table, as the DHT segments say.
    static void KeepTables(const THuffmanRecords& input, TScanTables& tables) {
        for (int t = 0; t < kTableIndexes; ++t) {
            BuildEncodeTable(OutputRecord(0, t, input[0][t]), tables.dc[t]);
            BuildEncodeTable(OutputRecord(1, t, input[1][t]), tables.ac[t]);
        }
    }

    bool Report(TScanCoding coding) {
        if (coding == TScanCoding::Ok) return true;
        events_.Error(coding == TScanCoding::OutOfRange ? kMsgOutputValueOutOfRange
                                                        : kMsgSymbolWithoutCode);
        return false;
    }

    const TStoreJob& job_;
    const TFrame& frame_;
    TPassEvents& events_;
    TCoefficientStore store_;
    TStoreProgress progress_;
    std::vector<TInputScan> scans_;
};

}  // namespace

bool WriteFromStore(const TStoreJob& job, TPassEvents& events, std::size_t& scanEnd,
                    TPassReport& report) {
    return TStorePass(job, events).Run(scanEnd, report);
}

}  // namespace plume
