#include "ReferenceCoderFiles.h"

#include <algorithm>
#include <optional>
#include <set>

namespace plume::test {

std::string TableKindName(TTableKind kind) {
    switch (kind) {
        case TTableKind::kAnnexK:
            return "AnnexK";
        case TTableKind::kReordered:
            return "Reordered";
        case TTableKind::kIncomplete:
            return "Incomplete";
    }
    return "Unknown";
}

TRefScanSetup LayoutOf(const TBlockFileOptions& options) {
    TRefScanSetup setup;
    setup.width = options.width;
    setup.height = options.height;
    for (std::size_t i = 0; i < options.components.size(); ++i) {
        const fixtures::TFrameComponent& c = options.components[i];
        setup.h[c.id] = c.h;
        setup.v[c.id] = c.v;
        setup.dcSelector[c.id] = setup.acSelector[c.id] = i == 0 ? 0 : 1;
    }
    setup.hasRestart = options.writeDri;
    setup.restartInterval = options.restartInterval;
    setup.ComputeGeometry();
    return setup;
}

namespace {

// Annex K's table limited to the symbols marked used, lengths kept.
fixtures::THuffmanTable KeepUsed(const fixtures::THuffmanTable& standard, const bool (&used)[256]) {
    fixtures::THuffmanTable table = standard;
    table.bits.fill(0);
    table.values.clear();
    std::size_t k = 0;
    for (int length = 1; length <= 16; ++length)
        for (int i = 0; i < standard.bits[length - 1]; ++i, ++k)
            if (used[standard.values[k]]) {
                ++table.bits[length - 1];
                table.values.push_back(standard.values[k]);
            }
    return table;
}

struct TEncoded {
    fixtures::TBytes scan;
    bool endsOnByte = false;
    bool used[2][2][256] = {};
};

TEncoded Encode(const TRefScanSetup& setup, const TRefStore& blocks,
                const std::vector<int>& rstNumbers) {
    TEncoded result;
    TMemoryStream stream;
    TOutBitStreamFile out(stream, {});
    TRefEncoder encoder(out, setup);
    encoder.EncodeScan(blocks, rstNumbers);
    result.endsOnByte = !out.HasPendingBits();
    if (out.HasPendingBits()) out.FlushBits();
    result.scan = stream.Bytes();
    std::copy(&encoder.symbolUsed[0][0][0], &encoder.symbolUsed[0][0][0] + 2 * 2 * 256,
              &result.used[0][0][0]);
    return result;
}

}  // namespace

TBlockFile MakeBlockFile(const TBlockFileOptions& options, const TRefStore& blocks) {
    TBlockFile file;
    file.blocks = blocks;
    file.setup = LayoutOf(options);
    bool tableUsed[2][2] = {};
    for (std::size_t i = 0; i < options.components.size(); ++i)
        tableUsed[0][i == 0 ? 0 : 1] = tableUsed[1][i == 0 ? 0 : 1] = true;

    std::vector<fixtures::THuffmanTable> declared;
    TRefScanSetup annexK = file.setup;
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t) annexK.tables[c][t] = AnnexKTable(c, t);
    std::optional<TEncoded> dryRun;
    if (options.tables == TTableKind::kIncomplete)
        dryRun = Encode(annexK, blocks, options.rstNumbers);
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t) {
            if (!tableUsed[c][t]) continue;
            fixtures::THuffmanTable table = fixtures::StandardHuffmanTable(c, t);
            if (options.tables == TTableKind::kReordered) {
                TRandom random(options.tableSeed * 4 + static_cast<std::uint32_t>(2 * c + t));
                for (std::size_t i = table.values.size() - 1; i > 0; --i)
                    std::swap(table.values[i], table.values[random.Below(static_cast<int>(i) + 1)]);
            } else if (options.tables == TTableKind::kIncomplete) {
                table = KeepUsed(table, dryRun->used[c][t]);
            }
            declared.push_back(table);
            file.setup.tables[c][t] = CanonicalTable(table);
        }
    const TEncoded encoded = Encode(file.setup, blocks, options.rstNumbers);
    file.scanEndsOnByte = encoded.endsOnByte;

    std::set<int> quantIds;
    std::vector<fixtures::TFrameComponent> frame = options.components;
    std::vector<fixtures::TScanComponent> scan;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        quantIds.insert(frame[i].tq);
        scan.push_back({frame[i].id, i == 0 ? 0 : 1, i == 0 ? 0 : 1});
    }
    std::sort(scan.begin(), scan.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    std::vector<fixtures::TQuantTable> quant;
    for (int id : quantIds)
        quant.push_back(fixtures::RampQuantTable(id, static_cast<std::uint16_t>(1 + 50 * id)));

    fixtures::TSegmentBuilder b;
    b.Soi().Dqt(quant).Sof0(options.width, options.height, frame).Dht(declared);
    if (options.writeDri) b.Dri(options.restartInterval);
    b.Sos(scan).Bytes(encoded.scan).Bytes(options.trailing);
    file.jpeg = b.Take();
    return file;
}

TCoefBlock BlockWith(std::initializer_list<std::pair<int, int>> values) {
    TCoefBlock block{};
    for (const auto& [k, value] : values) block[k] = static_cast<std::int16_t>(value);
    return block;
}

TRefStore RandomStore(const TRefScanSetup& layout, const TRandomBlocks& options) {
    TRandom random(options.seed);
    TRefStore store;
    const auto acValue = [&] {
        const int size =
            1 + std::min(random.Below(options.maxAcSize), random.Below(options.maxAcSize));
        const int magnitude = (1 << (size - 1)) + random.Below(1 << (size - 1));
        return random.Below(2) == 0 ? magnitude : -magnitude;
    };
    for (int s = 0; s < 4; ++s) {
        if (layout.h[s] == 0) continue;
        store[s].resize(static_cast<std::size_t>(layout.BlocksPerRow(s)) * layout.BlockRows(s));
        int previousDc = 0;
        for (TCoefBlock& block : store[s]) {
            block.fill(0);
            block[0] = static_cast<std::int16_t>(random.Below(4) == 0 ? previousDc
                                                                      : random.Below(2048) - 1024);
            previousDc = block[0];
            const int densities[] = {0, options.density / 4, options.density,
                                     std::min(100, 3 * options.density), 100};
            const int density = densities[random.Below(5)];
            for (int k = 1; k < 64; ++k)
                if (random.Below(100) < density) block[k] = static_cast<std::int16_t>(acValue());
            if (random.Below(4) == 0) block[63] = static_cast<std::int16_t>(acValue());
        }
    }
    return store;
}

}  // namespace plume::test
