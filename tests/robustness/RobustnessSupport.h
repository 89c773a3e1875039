// A host for the robustness suites: an engine whose callbacks only count
// (some inputs make millions of reports), the passes run as the application
// runs them, and a clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/JpegRotation.h"
#include "fixtures/TempDir.h"

namespace plume::test {

using fixtures::TBytes;

enum class TPassResult {
    Written,    // both passes returned true
    Refused,    // a pass returned false
    ReadError,  // the input ended too early
};

inline const char* ResultName(TPassResult result) {
    switch (result) {
        case TPassResult::Written:
            return "written";
        case TPassResult::Refused:
            return "refused";
        case TPassResult::ReadError:
            return "read error";
    }
    return "?";
}

class TCountingHost {
  public:
    TCountingHost() {
        engine.OnMessage = [this](const std::string& text, int level) {
            if (level == 2) {
                if (errors++ == 0) firstError = text;
            } else if (level == 1) {
                ++warnings;
            }
        };
    }

    // ValidateJpeg, then RotateJpeg when it accepted the file. Any exception
    // goes on to the test.
    TPassResult Run(const TBytes& jpeg, std::uint8_t mode) {
        errors = warnings = 0;
        firstError.clear();
        output.clear();
        TMemoryStream in(jpeg);
        TMemoryStream out;
        if (!engine.ValidateJpeg(in) || !engine.RotateJpeg(in, out, mode)) return Failure();
        output = out.Bytes();
        return TPassResult::Written;
    }

    // RotateJpeg alone, as a careless host might call it.
    TPassResult RotateOnly(const TBytes& jpeg, std::uint8_t mode) {
        errors = warnings = 0;
        firstError.clear();
        TMemoryStream in(jpeg);
        TMemoryStream out;
        if (!engine.RotateJpeg(in, out, mode)) return Failure();
        output = out.Bytes();
        return TPassResult::Written;
    }

    // A pass that returned false: refused, or cut short.
    TPassResult Failure() const {
        return engine.LastPass().inputEnded ? TPassResult::ReadError : TPassResult::Refused;
    }

    TJpegRotation engine;
    long errors = 0;
    long warnings = 0;
    std::string firstError;
    TBytes output;
};

template <class F>
double SecondsFor(F&& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Small deterministic generator (xorshift), for garbage and mutations.
class TRandom {
  public:
    explicit TRandom(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 24); }

  private:
    std::uint32_t state_;
};

}  // namespace plume::test
