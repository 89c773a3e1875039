#include "JpegRotation/store/StorePass.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/entropy/TableFromCounts.h"
#include "JpegRotation/scan/IndexPass.h"
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

    // The output's scans are counted and coded in parts, on as many threads
    // as the file may use, the largest parts first: first every part's
    // symbols, for the tables made from them, then every part's bits. Then
    // the scans are put in order, each after what the output keeps before it.
    bool WriteScans(const std::vector<TScanHeader>& script, bool kept, bool made) {
        const TOutputGeometry& geometry = job_.geometry;
        TStoreOutput output{store_, geometry, frame_.kind == TFrameKind::Progressive,
                            job_.trim.width, job_.trim.height};
        for (int s = 0; s < kSlots; ++s) {
            output.maxH = std::max(output.maxH, geometry.h[s]);
            output.maxV = std::max(output.maxV, geometry.v[s]);
        }
        const TEngineOptions& options = job_.options;
        std::uint64_t blocks = 0;
        for (const TScanHeader& scan : script) blocks += output.ScanBlocks(scan);
        const int threads = static_cast<std::int64_t>(blocks) >= options.ParallelMinBlocks
                                ? ThreadsToUse(options.AllowParallelCoding, options.ThreadCount)
                                : 1;
        progress_.SetOutputBlocks(blocks * (made ? 2 : 1));

        // The parts, the largest first: what an input scan took is what its
        // copy will take; a scan of the standard script costs about as much
        // as the coefficients it walks.
        std::vector<TWork> work;
        for (std::size_t j = 0; j < script.size(); ++j) {
            const std::uint64_t scanBlocks = output.ScanBlocks(script[j]);
            const std::uint64_t cost =
                kept ? scans_[j].bytes
                     : scanBlocks * static_cast<std::uint64_t>(script[j].se - script[j].ss + 1);
            const int wanted = static_cast<int>(std::min<std::uint64_t>(
                2 * static_cast<std::uint64_t>(threads), 1 + scanBlocks / kPartBlocks));
            const std::vector<TScanPart> parts = SplitScan(output, script[j], wanted);
            const std::uint64_t total = static_cast<std::uint64_t>(parts.back().last);
            for (const TScanPart& part : parts) {
                const auto share = static_cast<std::uint64_t>(part.last - part.first);
                work.push_back({j, part, cost * share / std::max<std::uint64_t>(total, 1),
                                scanBlocks * share / std::max<std::uint64_t>(total, 1)});
            }
        }
        std::stable_sort(work.begin(), work.end(),
                         [](const TWork& a, const TWork& b) { return a.cost > b.cost; });

        std::vector<TScanCoding> results(work.size(), TScanCoding::Ok);
        std::atomic<std::uint64_t> done{0};
        std::uint64_t reported = 0;
        const auto report = [&] {
            const std::uint64_t now = done;
            progress_.Written(now - reported);
            reported = now;
        };
        // The symbols of every part, then the tables of each scan.
        std::vector<std::unique_ptr<TMadeTables>> tables(script.size());
        std::vector<std::vector<std::uint8_t>> dht(script.size());
        if (made) {
            std::vector<std::unique_ptr<TSymbolCounts>> counts(work.size());
            RunTasks(
                work.size(), threads,
                [&](std::size_t w) {
                    counts[w] = std::make_unique<TSymbolCounts>();
                    results[w] = CountScan(output, script[work[w].scan], work[w].part, *counts[w]);
                    done += work[w].blocks;
                },
                report);
            if (!ReportFirst(work, results)) return false;
            for (std::size_t j = 0; j < script.size(); ++j) {
                const auto sum = std::make_unique<TSymbolCounts>();
                for (std::size_t w = 0; w < work.size(); ++w)
                    if (work[w].scan == j) sum->Add(*counts[w]);
                tables[j] = std::make_unique<TMadeTables>();
                MakeTables(*sum, *tables[j]);
                AppendDht(*tables[j], dht[j]);
            }
        } else {
            for (std::size_t j = 0; j < script.size(); ++j) {
                tables[j] = std::make_unique<TMadeTables>();
                KeepTables(scans_[j].tables, *tables[j]);
            }
        }
        // The bits of every part.
        std::vector<TCodedPart> coded(work.size());
        RunTasks(
            work.size(), threads,
            [&](std::size_t w) {
                const std::size_t j = work[w].scan;
                coded[w].bytes.reserve(static_cast<std::size_t>(work[w].cost / 4 + 4096));
                results[w] = CodeScan(output, script[j], work[w].part, tables[j]->dc, tables[j]->ac,
                                      coded[w]);
                done += work[w].blocks;
            },
            report);
        if (!ReportFirst(work, results)) return false;

        TMemoryStream& stream = job_.io.out.Stream();
        std::vector<std::uint8_t>& out = stream.Bytes();
        // Each scan's parts in their order.
        std::vector<std::size_t> inOrder(work.size());
        for (std::size_t w = 0; w < work.size(); ++w) inOrder[w] = w;
        std::sort(inOrder.begin(), inOrder.end(), [&work](std::size_t a, std::size_t b) {
            return work[a].scan != work[b].scan ? work[a].scan < work[b].scan
                                                : work[a].part.first < work[b].part.first;
        });
        std::vector<TCodedPart> parts;
        std::size_t next = 0;
        for (std::size_t j = 0; j < script.size(); ++j) {
            if (kept) out.insert(out.end(), scans_[j].before.begin(), scans_[j].before.end());
            out.insert(out.end(), dht[j].begin(), dht[j].end());
            AppendSos(out, script[j], job_.header.frame);
            parts.clear();
            for (; next < inOrder.size() && work[inOrder[next]].scan == j; ++next)
                parts.push_back(std::move(coded[inOrder[next]]));
            JoinParts(parts, out);
        }
        progress_.WritingDone();
        stream.SetPosition(out.size());
        return true;
    }

    // A part of an output scan, and what it costs.
    struct TWork {
        std::size_t scan;
        TScanPart part;
        std::uint64_t cost, blocks;
    };

    // A part of a scan takes at least this many blocks, where threads share it.
    static constexpr std::uint64_t kPartBlocks = 1 << 14;

    // The first failure among the parts, in the order of the scans.
    bool ReportFirst(const std::vector<TWork>& work, const std::vector<TScanCoding>& results) {
        std::size_t first = work.size();
        for (std::size_t w = 0; w < work.size(); ++w)
            if (results[w] != TScanCoding::Ok &&
                (first == work.size() || work[w].scan < work[first].scan ||
                 (work[w].scan == work[first].scan && work[w].part.first < work[first].part.first)))
                first = w;
        return first == work.size() || Report(results[first]);
    }

    // The input's tables of the scan, each complete one as it is and any
    // other replaced by its Annex K table, as the DHT segments say.
    static void KeepTables(const THuffmanRecords& input, TMadeTables& tables) {
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
