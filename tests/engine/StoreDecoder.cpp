// The scan decoded into a store of every block, as the engine's first
// decoder did, from its own pieces: the scan reader, the decoding tables and
// DecodeBlockInto, each block's coefficients kept by a sink of values. The
// headers are read by the reference coder's reader, so that only the
// engine's entropy decoding meets the reference's.
#include "BitStreamFile/InBitStreamFile.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/entropy/BlockDecoder.h"
#include "JpegRotation/scan/IndexPass.h"
#include "ReferenceCoderRuns.h"

namespace plume::test {
namespace {

// Each coefficient as its value.
struct TStoreSink {
    TCoefBlock& block;
    void Begin() { block.fill(0); }
    void Dc(std::int32_t value) { block[0] = static_cast<std::int16_t>(value); }
    void Put(int k, std::uint32_t bits, int size) {
        block[k] = static_cast<std::int16_t>(Extend(bits, size));
    }
};

class TStoreDecoder {
  public:
    TStoreDecoder(const TBytes& jpeg, TEngineDecode& result)
        : setup_(ReadScanSetup(jpeg)),
          result_(result),
          reader_(jpeg.data(), jpeg.size(), ScanStart(jpeg),
                  [this] { result_.messages.emplace_back(kMsgMarkerInScanData, kLevelError); }) {
        for (int c = 0; c < 2; ++c)
            for (int t = 0; t < 2; ++t) {
                const TRefTable& table = setup_.tables[c][t];
                tables_[c][t].Build(table.Count(), table.lengths.data(), table.symbols.data(),
                                    table.codes.data());
            }
        for (int s = 0; s < 4; ++s)
            if (setup_.h[s] > 0)
                result_.store[s].resize(static_cast<std::size_t>(setup_.BlocksPerRow(s)) *
                                        setup_.BlockRows(s));
    }

    // False after the message of a block that does not decode.
    bool Decode() {
        int restartCounter = 0;
        for (int y = 0; y < setup_.mcuRows; ++y)
            for (int x = 0; x < setup_.mcusPerRow; ++x) {
                for (int s = 0; s < 4; ++s)
                    for (int v = 0; v < setup_.v[s]; ++v)
                        for (int h = 0; h < setup_.h[s]; ++h)
                            if (!DecodeBlock(s, static_cast<std::size_t>(y * setup_.v[s] + v) *
                                                        setup_.BlocksPerRow(s) +
                                                    static_cast<std::size_t>(x * setup_.h[s] + h)))
                                return false;
                reader_.CheckEvents();
                const bool last = y == setup_.mcuRows - 1 && x == setup_.mcusPerRow - 1;
                if (!setup_.hasRestart || ++restartCounter != setup_.restartInterval || last)
                    continue;
                // The marker's value is not checked: the two bytes where it is due are taken.
                for (auto& predictor : predictor_) predictor = 0;
                restartCounter = 0;
                const std::size_t position = reader_.BytePosition();
                if (position + 2 > reader_.Size()) throw EStreamError(kStreamReadError);
                reader_.Restart(position + 2);
            }
        reader_.CheckEvents();
        result_.position = reader_.BytePosition();
        return true;
    }

  private:
    bool DecodeBlock(int s, std::size_t index) {
        const TBlockStatus status = DecodeBlockInto<true, false>(
            reader_, tables_[0][setup_.dcSelector[s]], tables_[1][setup_.acSelector[s]],
            predictor_[s], TStoreSink{result_.store[s][index]});
        if (status == TBlockStatus::Ok) return true;
        reader_.CheckEvents();
        result_.messages.emplace_back(BlockStatusMessage(status), kLevelError);
        return false;
    }

    TRefScanSetup setup_;
    TEngineDecode& result_;
    THuffmanDecodeTable tables_[2][2];
    TScanReader reader_;
    std::int32_t predictor_[4] = {};
};

}  // namespace

TEngineDecode RunEngineDecode(const TBytes& jpeg) {
    TEngineDecode result;
    try {
        TStoreDecoder decoder(jpeg, result);
        result.ok = decoder.Decode();
    } catch (const EStreamError&) {
        result.readError = true;
    }
    return result;
}

}  // namespace plume::test
