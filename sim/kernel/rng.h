// The world's seeded pseudo-random generator (splitmix64 seeding a xoshiro256**): the same seed
// gives the same sequence on every machine and compiler, unlike the standard distributions.
#pragma once

#include <cstdint>

namespace sim {

class Rng {
public:
    explicit Rng(uint64_t seed = 1) { reseed(seed); }

    void reseed(uint64_t seed) {
        uint64_t x = seed;
        for (auto& word : s_) word = splitmix(x);
    }

    uint64_t next() {
        const uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    // A number in [0, n), n > 0.
    uint64_t below(uint64_t n) { return n <= 1 ? 0 : next() % n; }
    // A number in [lo, hi].
    uint64_t between(uint64_t lo, uint64_t hi) { return hi <= lo ? lo : lo + below(hi - lo + 1); }
    // A double in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    // True with probability p.
    bool chance(double p) { return p > 0 && (p >= 1 || unit() < p); }
    // An independent generator for a device, so that devices do not disturb each other's draws.
    Rng fork(uint64_t salt) { return Rng(next() ^ (salt * 0x9E3779B97F4A7C15ULL)); }

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    static uint64_t splitmix(uint64_t& x) {
        uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    uint64_t s_[4];
};

}  // namespace sim
