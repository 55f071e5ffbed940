#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quintalis {

// A 128-bit identifier, written upper-case in 8-4-4-4-12 groups. Bluetooth
// centrals (hosts) are known by one.
class UUID {
public:
    UUID() = default;
    explicit UUID(const std::array<uint8_t, 16>& bytes) : bytes_(bytes) {}

    // Accepts the 8-4-4-4-12 form in either letter case; nothing otherwise.
    static std::optional<UUID> parse(std::string_view text);
    // A name-based UUID that is the same on every run for the same name.
    static UUID fromName(std::string_view name);

    std::string string() const;
    const std::array<uint8_t, 16>& bytes() const { return bytes_; }

    auto operator<=>(const UUID&) const = default;

private:
    std::array<uint8_t, 16> bytes_{};
};

}  // namespace quintalis
