#pragma once

// The values that the registry's many-process test writes: each one says who
// wrote it and in which round, and its body follows from that, so a reader
// can tell a whole value from a torn or mixed one.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace registrytest {

struct Stamp {
    uint32_t writer { 0 };
    uint32_t round { 0 };
    bool operator==(const Stamp&) const = default;
};

inline std::byte bodyByte(Stamp stamp, size_t index)
{
    return static_cast<std::byte>((stamp.writer * 131 + stamp.round * 17 + index * 7) & 0xFF);
}

inline size_t bodySize(Stamp stamp)
{
    return (stamp.writer * 31 + stamp.round * 7) % 300;
}

// 4 bytes writer, 4 bytes round, 4 bytes body size, then the body.
inline std::vector<std::byte> makePattern(Stamp stamp)
{
    std::vector<std::byte> data;
    auto put = [&](uint32_t number) {
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<std::byte>((number >> (8 * i)) & 0xFF));
    };
    size_t size = bodySize(stamp);
    put(stamp.writer);
    put(stamp.round);
    put(static_cast<uint32_t>(size));
    for (size_t i = 0; i < size; ++i)
        data.push_back(bodyByte(stamp, i));
    return data;
}

// The stamp of a whole pattern; nothing for anything else.
inline std::optional<Stamp> readPattern(std::span<const std::byte> data)
{
    if (data.size() < 12)
        return std::nullopt;
    auto get = [&](size_t offset) {
        uint32_t number = 0;
        for (size_t i = 0; i < 4; ++i)
            number |= std::to_integer<uint32_t>(data[offset + i]) << (8 * i);
        return number;
    };
    Stamp stamp { get(0), get(4) };
    if (get(8) != bodySize(stamp) || data.size() != 12 + bodySize(stamp))
        return std::nullopt;
    for (size_t i = 0; i < bodySize(stamp); ++i) {
        if (data[12 + i] != bodyByte(stamp, i))
            return std::nullopt;
    }
    return stamp;
}

} // namespace registrytest
