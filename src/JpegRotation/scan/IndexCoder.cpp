// A quarter turn or a diagonal mirror changes the order of the coefficients
// in every block, so each block is decoded into its coded form in the new
// order and then coded. The other turns keep that order and only change
// signs: each block is coded as it is decoded, symbol by symbol, into bits
// of its own that are put in the output in the order the output MCU wants.
#include "JpegRotation/scan/IndexCoder.h"

#include <memory>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/scan/BlockSource.h"
#include "JpegRotation/scan/OutputCoder.h"

namespace plume {
namespace {

template <class TBlock>
bool CodeFromIndexAs(const TScanJob& job, const TScanIndex& index, TPassEvents& events,
                     std::vector<std::uint8_t>& out) {
    const TMcuPlan plan = MakePlan(job.frame, job.tables);
    const TMcuLayout layout = TurnedMcuLayout(job.output, job.turn);
    const auto sinks = std::make_unique<TSinkTables<TBlock>>(job.tables);
    const TTurnedMcuDecoder<TBlock> decoder(job, plan, layout, *sinks);
    TIndexSource<TBlock> source(job, decoder, index.starts);
    const bool coded = CodeOutput(job, source, &events, out);
    if (!coded) events.Error(kMsgSymbolWithoutCode);
    if (source.failed) {
        // The index is made from bits that decoded cleanly: not expected.
        events.Error(kMsgHuffmanBlock);
        return false;
    }
    return coded;
}

}  // namespace

bool CodeFromIndex(const TScanJob& job, const TScanIndex& index, TPassEvents& events,
                   std::vector<std::uint8_t>& out) {
    if (BlocksFitTurn<TCodedBlock>(job.turn))
        return CodeFromIndexAs<TCodedBlock>(job, index, events, out);
    return CodeFromIndexAs<TTranscodedBlock>(job, index, events, out);
}

}  // namespace plume
