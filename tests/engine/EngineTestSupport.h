// An engine with recording callbacks, for the engine suites.
#pragma once

#include <string>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/JpegRotation.h"
#include "fixtures/TempDir.h"

namespace plume::test {

using fixtures::TBytes;

struct TMessage {
    std::string text;
    int level = 0;
    bool operator==(const TMessage&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TMessage& m) {
    return out << "[" << m.level << "] " << m.text;
}

// One engine whose callbacks record what they receive; it may serve several
// files in turn, as the application's does.
class TEngineRun {
  public:
    TEngineRun() {
        engine.OnMessage = [this](const std::string& text, int level) {
            messages.push_back({text, level});
        };
        engine.OnNonStandardHuffman = [this] { ++nonStandardHuffman; };
        engine.OnProgressMax = [this](int max) { progressMax.push_back(max); };
        engine.OnProgress = [this](int position) { progress.push_back(position); };
    }

    // Two threads however small the file (the second one decoding the scan's
    // second half ahead of the first), or one thread throughout.
    void UseThreads(bool threads) { UseThreads(threads ? 2 : 1); }
    // `count` threads however small the file, each decoding its part of the
    // scan ahead of the first and coding parts of the output.
    void UseThreads(int count) {
        options.AllowParallelCoding = count > 1;
        options.ThreadCount = count;
        options.ParallelMinBlocks = 0;
    }

    // Clears what earlier passes recorded.
    void ClearRecords() {
        messages.clear();
        nonStandardHuffman = 0;
        progressMax.clear();
        progress.clear();
    }

    bool Validate(const TBytes& jpeg) {
        TMemoryStream in(jpeg);
        engine.SetOptions(options);
        return engine.ValidateJpeg(in);
    }

    // RotateJpeg alone; the output lands in output.
    bool Rotate(const TBytes& jpeg, std::uint8_t mode) {
        TMemoryStream in(jpeg);
        TMemoryStream out;
        engine.SetOptions(options);
        const bool result = engine.RotateJpeg(in, out, mode);
        output = out.Bytes();
        return result;
    }

    // ValidateJpeg, then RotateJpeg when it accepted the file (as a host does).
    bool ValidateAndRotate(const TBytes& jpeg, std::uint8_t mode) {
        output.clear();
        return Validate(jpeg) && Rotate(jpeg, mode);
    }

    // The last pass ran out of input (the file is cut short).
    bool InputEnded() const { return engine.LastPass().inputEnded; }

    std::vector<TMessage> Messages(int level) const {
        std::vector<TMessage> selected;
        for (const TMessage& m : messages)
            if (m.level == level) selected.push_back(m);
        return selected;
    }

    TJpegRotation engine;
    TEngineOptions options;  // set on the engine before each pass
    std::vector<TMessage> messages;
    int nonStandardHuffman = 0;
    std::vector<int> progressMax;
    std::vector<int> progress;
    TBytes output;
};

}  // namespace plume::test
