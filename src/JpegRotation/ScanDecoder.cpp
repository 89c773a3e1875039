// Entropy decoding of one interleaved baseline scan into the coefficient
// store (T.81 F.2.2, F.2.3 and the MCU order of A.2.3).
#include "BitStreamFile/InBitStreamFile.h"
#include "JpegRotation/BlockDecoder.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/JpegRotation.h"

namespace plume {

void TJpegRotation::PrepareDecodeTables() {
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t)
            decodeTables_[c][t].Build(HuffCount[c][t], HuffLengths[c][t].data(),
                                      HuffSymbols[c][t].data(), HuffCodes[c][t].data());
}

TScanReader& TJpegRotation::ScanReader() {
    if (!scanReader_) {
        TMemoryStream& in = InBits->Stream();
        scanReader_ = std::make_unique<TScanReader>(in.Memory(), in.Size(), in.Position(),
                                                    [this] { ReportError(kMsgMarkerInScanData); });
    }
    return *scanReader_;
}

bool TJpegRotation::FailBlock(const char* text) {
    scanReader_->CheckEvents();
    ReportError(text);
    return false;
}

int TJpegRotation::DecodeSymbol(int tableClass, int tableIndex) {
    return ScanReader().Decode(decodeTables_[tableClass][tableIndex]);
}

bool TJpegRotation::DecodeBlock(int component, TCoefBlock& block) {
    TScanReader& reader = ScanReader();
    const THuffmanDecodeTable& dc = decodeTables_[0][DcSelector[component]];
    const THuffmanDecodeTable& ac = decodeTables_[1][AcSelector[component]];
    return BlockDecoded(trackCoding_
                            ? DecodeBlockInto<true, true>(reader, dc, ac, DcPredictor[component],
                                                          TStoreSink{block}, &codedAsCoder_)
                            : DecodeBlockInto<true, false>(reader, dc, ac, DcPredictor[component],
                                                           TStoreSink{block}));
}

bool TJpegRotation::BlockDecoded(TBlockStatus status) {
    switch (status) {
        case TBlockStatus::Ok:
            return true;
        case TBlockStatus::DcSize:
            return FailBlock(kMsgDcSizeOutOfRange);
        case TBlockStatus::DcValue:
            return FailBlock(kMsgDcValueOutOfRange);
        case TBlockStatus::BadCode:
            break;
    }
    return FailBlock(kMsgHuffmanBlock);
}

bool TJpegRotation::ReadRestartMarker() {
    TScanReader& reader = *scanReader_;
    reader.CheckEvents();
    // The marker's value is not checked: the two bytes where it is due are taken.
    const std::size_t position = reader.BytePosition();
    if (position + 2 > reader.Size()) throw EStreamError(kStreamReadError);
    reader.Restart(position + 2);
    return true;
}

void TJpegRotation::BeginScanDecoding() {
    for (auto& predictor : DcPredictor) predictor = 0;
    RestartCounter = 0;
    PrepareDecodeTables();
    scanReader_.reset();
    ScanReader();
}

// Decodes MCU row y into the blocks that placement gives.
bool TJpegRotation::DecodeMcuRow(int y, const TBlockPlacement& placement) {
    if (OnProgress) OnProgress(y);
    for (int x = 0; x < McusPerRow; ++x) {
        for (int i = 0; i < 4; ++i) {
            const int h = HSampling[i], v = VSampling[i];
            if (h == 0 || v == 0) continue;
            for (int bv = 0; bv < v; ++bv) {
                const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(y) * v + bv;
                for (int bh = 0; bh < h; ++bh) {
                    const std::ptrdiff_t column = static_cast<std::ptrdiff_t>(x) * h + bh;
                    TCoefBlock& block =
                        placement.base[i][placement.origin[i] + row * placement.rowStride[i] +
                                          column * placement.columnStride[i]];
                    if (!DecodeBlock(i, block)) return false;
                }
            }
        }
        FinishMcu(y == McuRows - 1 && x == McusPerRow - 1);
    }
    return true;
}

void TJpegRotation::FinishMcu(bool last) {
    scanReader_->CheckEvents();
    if (!HasRestart) return;
    ++RestartCounter;
    if (!last && RestartCounter == RestartInterval) {
        for (auto& predictor : DcPredictor) predictor = 0;
        RestartCounter = 0;
        ReadRestartMarker();
    }
}

// Leaves the input just past the last byte of which a bit was used.
void TJpegRotation::EndScanDecoding() {
    scanReader_->CheckEvents();
    InBits->Stream().SetPosition(scanReader_->BytePosition());
    InBits->AlignToByte();
    scanReader_.reset();
}

// The rotation moves whole blocks: each goes straight to its output place,
// so that the coder reads the store in order (the table of source blocks of
// TransformAndEncode, solved for the output position).
TJpegRotation::TBlockPlacement TJpegRotation::StorePlacement() {
    TBlockPlacement placement{};
    for (int i = 0; i < 4; ++i) {
        placement.base[i] = Coefficients[i].Data();
        const std::ptrdiff_t w =
            static_cast<std::ptrdiff_t>(McusPerRow) * HSampling[i];  // input blocks per row
        const std::ptrdiff_t hb =
            static_cast<std::ptrdiff_t>(McuRows) * VSampling[i];  // input block rows
        std::ptrdiff_t origin = 0, rowStride = w, columnStride = 1;
        switch (Mode) {
            case kModeRotateRight:
                origin = hb - 1, rowStride = -1, columnStride = hb;
                break;
            case kModeRotateLeft:
                origin = (w - 1) * hb, rowStride = 1, columnStride = -hb;
                break;
            case kModeRotate180:
                origin = w * hb - 1, rowStride = -w, columnStride = -1;
                break;
            case kModeFlipHorizontal:
                origin = w - 1, rowStride = w, columnStride = -1;
                break;
            case kModeFlipVertical:
                origin = (hb - 1) * w, rowStride = -w, columnStride = 1;
                break;
            case kModeTranspose:
                origin = 0, rowStride = 1, columnStride = hb;
                break;
            case kModeTransverse:
                origin = w * hb - 1, rowStride = -1, columnStride = -hb;
                break;
            default:
                break;
        }
        placement.origin[i] = origin;
        placement.rowStride[i] = rowStride;
        placement.columnStride[i] = columnStride;
    }
    return placement;
}

bool TJpegRotation::DecodeScan() {
    for (int i = 0; i < 4; ++i)
        if (HSampling[i] > 0 && VSampling[i] > 0)
            Coefficients[i].Resize(static_cast<std::size_t>(HSampling[i]) * McusPerRow * McuRows *
                                   VSampling[i]);
    BeginScanDecoding();
    const TBlockPlacement placement = StorePlacement();
    for (int y = 0; y < McuRows; ++y)
        if (!DecodeMcuRow(y, placement)) return false;
    EndScanDecoding();
    return true;
}

}  // namespace plume
