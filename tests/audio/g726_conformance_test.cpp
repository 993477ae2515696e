// The codec against the public G.726 digital test sequences (24 kbit/s), read at run time
// from the shared folder next to the repository. The sequences carry G.711 samples, so the
// tests hold their own G.711 expansion and compression, and the decoder side applies the
// synchronous coding adjustment itself to compare every output byte exactly. The homing
// variants (h*) need the coder's homing-frame detection, which the recorders' sound path
// does not use, so they are not run.
#include "audio/g726.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace taviro::audio {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::uint16_t>;

fs::path VectorFolder() {
    const char* source = std::getenv("TAVIRO_SOURCE_DIR");
    const fs::path root = source != nullptr ? fs::path(source) : fs::path(".");
    return root / ".." / "shared" / "g726-vectors";
}

// A sequence file: headerless 16-bit little-endian words.
Words ReadWords(const std::string& name) {
    std::ifstream in(VectorFolder() / name, std::ios::binary);
    Words words;
    char pair[2];
    while (in.read(pair, 2)) {
        words.push_back(static_cast<std::uint16_t>(static_cast<std::uint8_t>(pair[0]) |
                                                   (static_cast<std::uint8_t>(pair[1]) << 8)));
    }
    return words;
}

enum class Law { kMu, kA };

// G.711 expansion to the 14-bit uniform value.
int Expand(Law law, unsigned code) {
    if (law == Law::kMu) {
        const unsigned v = ~code & 0xFFU;
        const unsigned seg = (v >> 4) & 7U;
        const int mag = static_cast<int>((((v & 15U) << 1) + 33U) << seg) - 33;
        return (v & 0x80U) != 0 ? -mag : mag;
    }
    const unsigned v = code ^ 0x55U;
    const unsigned seg = (v >> 4) & 7U;
    const unsigned mant = v & 15U;
    const unsigned mag13 = seg == 0 ? (mant << 1) + 1U : ((mant << 1) + 33U) << (seg - 1);
    const int mag = static_cast<int>(mag13 << 1);
    return (v & 0x80U) != 0 ? mag : -mag;
}

// G.711 compression of a reconstructed 16-bit word, saturating at the largest level.
unsigned Compress(Law law, int sr) {
    if (law == Law::kMu) {
        const unsigned sign = sr < 0 ? 0x80U : 0U;
        const int mag = std::min(std::abs(sr), 8158) + 33;
        unsigned seg = 0;
        while ((mag >> (seg + 6)) != 0) {
            ++seg;
        }
        const unsigned mant = (static_cast<unsigned>(mag) >> (seg + 1)) & 15U;
        return ~(sign | (seg << 4) | mant) & 0xFFU;
    }
    // The 13-bit A-law input is the word shifted right, rounding towards minus infinity.
    const int x = sr >> 1;
    const unsigned sign = x >= 0 ? 0x80U : 0U;
    const int mag = std::min(x >= 0 ? x : -x - 1, 4095);
    unsigned seg = 0;
    while (seg < 7 && (mag >> (seg + 5)) != 0) {
        ++seg;
    }
    const unsigned mant = seg == 0 ? (static_cast<unsigned>(mag) >> 1) & 15U
                                   : (static_cast<unsigned>(mag) >> seg) & 15U;
    return (sign | (seg << 4) | mant) ^ 0x55U;
}

// One G.711 step towards larger (up) or smaller values, staying at the end levels.
unsigned Step(Law law, unsigned code, bool up) {
    if (law == Law::kMu) {
        if (up) {
            if (code == 0x7F) {
                return 0xFE;
            }
            if (code == 0x80) {
                return code;
            }
            return code < 0x80 ? code + 1 : code - 1;
        }
        if (code == 0xFF) {
            return 0x7E;
        }
        if (code == 0x00) {
            return code;
        }
        return code < 0x80 ? code - 1 : code + 1;
    }
    const unsigned v = code ^ 0x55U;
    const bool positive = (v & 0x80U) != 0;
    const unsigned m = v & 0x7FU;
    unsigned out = v;
    if (up) {
        if (positive) {
            out = m == 0x7F ? v : v + 1;
        } else {
            out = m == 0 ? 0x80U : v - 1;
        }
    } else {
        if (positive) {
            out = m == 0 ? 0x00U : v - 1;
        } else {
            out = m == 0x7F ? v : v + 1;
        }
    }
    return out ^ 0x55U;
}

// Decodes the codes from the reset state the way a G.711-output decoder does: compress the
// reconstruction, re-quantize the compressed sample and move it one step when its code
// differs. Also checks the 16-bit output of the public decoder on the way.
Words DecodeToG711(Law law, const Words& codes, int* overloaded) {
    detail::CG726State state;
    CG726Decoder decoder;
    Words out;
    out.reserve(codes.size());
    for (const std::uint16_t word : codes) {
        const auto code = static_cast<std::uint8_t>(word & 7U);
        state.Prepare();
        const int sr = state.Update(code);
        *overloaded += (sr > 8191 || sr < -8192) ? 1 : 0;
        EXPECT_EQ(decoder.DecodeCode(code), std::clamp(sr, -8192, 8191) * 4);
        const unsigned sp = Compress(law, sr);
        const std::uint8_t id = state.Quantize(Expand(law, sp) - state.Estimate());
        // Codes ordered by level: the sign bit flipped.
        const unsigned im = code ^ 4U;
        const unsigned idm = id ^ 4U;
        out.push_back(static_cast<std::uint16_t>(idm == im ? sp : Step(law, sp, idm < im)));
    }
    return out;
}

std::size_t FirstMismatch(const Words& a, const Words& b) {
    const auto it = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return static_cast<std::size_t>(it.first - a.begin());
}

class G726Vectors : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::is_directory(VectorFolder())) {
            GTEST_SKIP() << "no test sequences at " << VectorFolder();
        }
    }
};

TEST_F(G726Vectors, EncoderReproducesEveryCodeFromReset) {
    struct Case {
        const char* input;
        const char* codes;
        Law law;
    };
    for (const Case& c :
         {Case{"nrm.m", "rn24fm.i", Law::kMu}, Case{"nrm.a", "rn24fa.i", Law::kA},
          Case{"ovr.m", "rv24fm.i", Law::kMu}, Case{"ovr.a", "rv24fa.i", Law::kA}}) {
        const Words input = ReadWords(c.input);
        const Words expected = ReadWords(c.codes);
        ASSERT_FALSE(input.empty()) << c.input;
        ASSERT_EQ(input.size(), expected.size()) << c.codes;
        CG726Encoder encoder;
        Words codes;
        for (const std::uint16_t sample : input) {
            const int linear = Expand(c.law, sample & 0xFFU) * 4;
            codes.push_back(encoder.EncodeSample(static_cast<std::int16_t>(linear)));
        }
        EXPECT_EQ(FirstMismatch(codes, expected), codes.size()) << c.codes;
    }
}

TEST_F(G726Vectors, DecoderMatchesEveryOutputSample) {
    struct Case {
        const char* codes;
        const char* output;
        Law law;
        bool overloads;  // drives the reconstruction past 14 bits (429..4089 samples)
    };
    for (const Case& c :
         {Case{"rn24fm.i", "rn24fm.o", Law::kMu, false},
          Case{"rn24fa.i", "rn24fa.o", Law::kA, false},
          Case{"rv24fm.i", "rv24fm.o", Law::kMu, true}, Case{"rv24fa.i", "rv24fa.o", Law::kA, true},
          Case{"i24", "ri24fm.o", Law::kMu, true}, Case{"i24", "ri24fa.o", Law::kA, true}}) {
        const Words codes = ReadWords(c.codes);
        const Words expected = ReadWords(c.output);
        ASSERT_FALSE(codes.empty()) << c.codes;
        ASSERT_EQ(codes.size(), expected.size()) << c.output;
        int overloaded = 0;
        const Words out = DecodeToG711(c.law, codes, &overloaded);
        EXPECT_EQ(FirstMismatch(out, expected), out.size()) << c.output;
        // The public decoder's saturation was checked on every one of these samples.
        EXPECT_EQ(overloaded > 0, c.overloads) << c.output << ": " << overloaded;
    }
}

}  // namespace
}  // namespace taviro::audio
