// The index pass's decoding: the scan decoded once, block by block with
// every check, noting where every MCU starts; when the image is large, each
// further thread indexes its part of the scan ahead of this one
// (SpeculativeScan.h). The messages and progress positions are those of
// decoding every block into a store.
#include "JpegRotation/scan/IndexPass.h"

#include <algorithm>
#include <memory>
#include <system_error>

#include "BitStreamFile/InBitStreamFile.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/scan/CleanMcu.h"
#include "JpegRotation/scan/SpeculativeScan.h"

namespace plume {
namespace {

// The further threads' lanes, ended before any of them goes: each reads the
// entries of the next.
struct TSpeculations {
    std::vector<std::unique_ptr<TSpeculativeScan>> scans;
    ~TSpeculations() {
        for (auto& scan : scans) scan.reset();
    }
};

class TIndexer {
  public:
    TIndexer(const TScanJob& job, bool trackCoding, TPassEvents& events, TScanIndex& index)
        : job_(job),
          plan_(MakePlan(job.frame, job.tables)),
          trackCoding_(trackCoding),
          events_(events),
          index_(index),
          reader_(job.data, job.size, job.scanStart,
                  [&events] { events.Error(kMsgMarkerInScanData); }) {}

    bool Run() {
        const std::int64_t total = job_.frame.McuCount();
        const std::int64_t perRow = job_.frame.McusPerRow();
        const std::int64_t rows = job_.frame.McuRows();
        index_ = {};
        index_.starts.reserve(job_.McuCapacity(job_.size - job_.scanStart));
        TSpeculations speculations;
        if (job_.options.schemes.speculativeIndex) StartSpeculations(speculations);
        const auto& scans = speculations.scans;

        std::size_t current = 0;  // the last lane that starts at or before the reader
        std::int64_t nextRow = 0;
        std::int64_t m = 0;
        while (m < total) {
            for (; nextRow < rows && nextRow * perRow <= m; ++nextRow)
                events_.Progress(static_cast<int>(nextRow));
            TMcuStart start{reader_.BitPosition(), {}};
            for (int s = 0; s < kSlots; ++s)
                start.predictor[s] = static_cast<std::int16_t>(predictor_[s]);
            index_.starts.push_back(start);
            while (current + 1 < scans.size() && scans[current + 1]->StartBit() <= start.bit)
                ++current;
            if (current < scans.size() && scans[current]->StartBit() <= start.bit) {
                const std::int64_t reach = TakeSpeculation(*scans[current], m);
                if (reach == total) break;
                if (reach > m) {
                    m = reach;
                    continue;
                }
            }
            const TBlockStatus status =
                trackCoding_ ? SkipMcu<true>(reader_, plan_, predictor_, &index_.codedAsCoder)
                             : SkipMcu<false>(reader_, plan_, predictor_);
            // The markers the MCU's bits passed are reported first.
            reader_.CheckEvents();
            if (status != TBlockStatus::Ok) {
                events_.Error(BlockStatusMessage(status));
                return false;
            }
            if (m != total - 1) RestartIfDue();
            ++m;
        }
        for (; nextRow < rows; ++nextRow) events_.Progress(static_cast<int>(nextRow));

        if (m == total) {
            index_.starts.push_back({reader_.BitPosition(), {}});
            index_.scanEnd = reader_.BytePosition();
        } else {
            index_.scanEnd = SpeculatedEnd(total);
        }
        return true;
    }

  private:
    // After an MCU that a restart marker follows (T.81 F.2.2.5 resets the
    // predictors after it). The marker's value is not checked: the two bytes
    // where it is due are taken.
    void RestartIfDue() {
        const std::int32_t interval = plan_.restartInterval;
        if (interval <= 0 || ++restartCounter_ != interval) return;
        std::fill(predictor_, predictor_ + kSlots, 0);
        restartCounter_ = 0;
        const std::size_t position = reader_.BytePosition();
        if (position + 2 > reader_.Size()) throw EStreamError(kStreamReadError);
        reader_.Restart(position + 2);
    }

    void StartSpeculations(TSpeculations& speculations) const {
        const std::vector<std::size_t> starts = job_.PartStarts(job_.options.threads);
        // The last first, so that each can be given the next.
        speculations.scans.resize(starts.size());
        TSpeculativeScan* next = nullptr;
        for (std::size_t i = starts.size(); i-- > 0;) {
            try {
                speculations.scans[i] = std::make_unique<TSpeculativeScan>(
                    job_.data, job_.size, starts[i], plan_, trackCoding_,
                    job_.McuCapacity(job_.size - starts[i]), next);
            } catch (const std::system_error&) {
                // No thread to be had: the ones before it decode further.
                speculations.scans.erase(
                    speculations.scans.begin(),
                    speculations.scans.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                return;
            }
            next = speculations.scans[i].get();
        }
    }

    // At the start of MCU m, whose entry is the index's last: when the lane's
    // entries are in step with it, takes as many of them as are clean.
    // Returns the MCU up to which the index is now complete: m when nothing
    // was taken, the MCU count when the scan is done (the index then ends
    // with the scan's end), else an MCU at whose start the reader and
    // predictors now stand.
    std::int64_t TakeSpeculation(TSpeculativeScan& speculation, std::int64_t m) {
        const std::int64_t total = job_.frame.McuCount();
        const std::int64_t interval = plan_.restartInterval;
        const std::int64_t found = speculation.EntryAt(index_.starts.back().bit);
        if (found < 0 || (interval > 0 && found % interval != m % interval)) return m;
        std::int32_t delta[kSlots];
        JoinDelta(predictor_, speculation.Entry(static_cast<std::size_t>(found)).predictor, delta);
        // After a restart marker the predictors are 0 in both: any difference
        // means another place.
        if (interval > 0 &&
            std::any_of(delta, delta + kSlots, [](std::int32_t d) { return d != 0; }))
            return m;

        speculation.Finish();
        const auto first = static_cast<std::size_t>(found);
        const std::int64_t reach = std::min<std::int64_t>(
            total, m + static_cast<std::int64_t>(speculation.CleanEnd(first, delta) - first));
        if (reach == m) return m;
        index_.speculatedMcus += reach - m;
        if (trackCoding_ &&
            !speculation.CodedAsTheCoderDoes(first, first + static_cast<std::size_t>(reach - m)))
            index_.codedAsCoder = false;
        const auto entryOf = [&](std::int64_t mcu) {
            const TSpeculativeScan::TEntry& entry =
                speculation.Entry(first + static_cast<std::size_t>(mcu - m));
            TMcuStart start{entry.bit, {}};
            for (int s = 0; s < kSlots; ++s)
                start.predictor[s] = static_cast<std::int16_t>(entry.predictor[s] + delta[s]);
            return start;
        };
        for (std::int64_t i = m + 1; i < reach; ++i) index_.starts.push_back(entryOf(i));
        if (reach == total) {
            index_.starts.push_back(entryOf(total));
            return total;
        }
        // Decoding goes on where the clean entries end.
        const TMcuStart resume = entryOf(reach);
        reader_.Seek(resume.bit);
        for (int s = 0; s < kSlots; ++s) predictor_[s] = resume.predictor[s];
        restartCounter_ = static_cast<std::int32_t>(interval > 0 ? reach % interval : 0);
        return reach;
    }

    // The end of the last MCU, as a lane recorded it: the byte just past the
    // last one of which a bit was used.
    std::size_t SpeculatedEnd(std::int64_t total) const {
        const std::uint64_t bit = index_.starts[static_cast<std::size_t>(total)].bit;
        std::size_t end = static_cast<std::size_t>(bit >> 3);
        const std::int32_t interval = plan_.restartInterval;
        if (interval > 0 && total % interval == 0) {
            end -= 2;  // the lane went on past the restart marker due there
        } else if ((bit & 7) != 0) {
            end = std::min(job_.size, end + (job_.data[end] == 0xFF ? 2 : 1));
        }
        return end;
    }

    const TScanJob& job_;
    const TMcuPlan plan_;
    const bool trackCoding_;
    TPassEvents& events_;
    TScanIndex& index_;
    TScanReader reader_;
    std::int32_t predictor_[kSlots] = {};
    std::int32_t restartCounter_ = 0;
};

}  // namespace

const char* BlockStatusMessage(TBlockStatus status) {
    switch (status) {
        case TBlockStatus::DcSize:
            return kMsgDcSizeOutOfRange;
        case TBlockStatus::DcValue:
            return kMsgDcValueOutOfRange;
        case TBlockStatus::AcValue:
            return kMsgAcValueOutOfRange;
        case TBlockStatus::RunPastBand:
            return kMsgRunPastBand;
        case TBlockStatus::Ok:
        case TBlockStatus::BadCode:
            break;
    }
    return kMsgHuffmanBlock;
}

bool IndexScan(const TScanJob& job, bool trackCoding, TPassEvents& events, TScanIndex& index) {
    return TIndexer(job, trackCoding, events, index).Run();
}

}  // namespace plume
