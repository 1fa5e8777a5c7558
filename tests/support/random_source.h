// splitmix64: the same numbers from a seed on every architecture and compiler, for the robustness programs.
#pragma once

#include <cstdint>
#include <vector>

namespace zvtest {

struct random_source {
    std::uint64_t state;
    std::uint64_t next() noexcept {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t n) noexcept { return n ? static_cast<std::uint32_t>(next() % n) : 0; }
    bool one_in(std::uint32_t n) noexcept { return below(n) == 0; }
    template <typename T>
    const T& pick(const std::vector<T>& v) noexcept {
        return v[below(static_cast<std::uint32_t>(v.size()))];
    }
};

} // namespace zvtest
