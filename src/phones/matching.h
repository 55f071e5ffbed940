#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quintalis::matching {

// Thumbnails compared while matching: 90 × 195 grey pixels, row 0 at the top.
inline constexpr int kThumbWidth = 90;
inline constexpr int kThumbHeight = 195;

struct Spot {
    double x;
    double y;
};
inline constexpr Spot kFirst{0.30, 0.35};
inline constexpr Spot kSecond{0.70, 0.65};
inline constexpr Spot kControlA{0.30, 0.65};
inline constexpr Spot kControlB{0.70, 0.35};
inline constexpr double kSettle = 0.6;

// A grey level this far from before is a changed pixel, here and wherever
// screens are compared.
inline constexpr int kChangedLevel = 13;

// How many pixels of the 15 × 15 window around the spot differ by 13 grey
// levels or more between the two thumbnails.
int changed(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, Spot around);

// The pointer seen at both spots it visited, less any change where it never went.
int score(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after);

// Whether a screen visibly changed between two thumbnails: they differ in
// size (so the first picture always counts), or at least two pixels changed;
// one noisy pixel is not a change.
bool visiblyChanged(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after);

// Which of the scored screens (by index) the host belongs to: the best score,
// if it is at least 3 and more than twice the second best.
std::optional<size_t> decide(const std::vector<int>& scores);

}  // namespace quintalis::matching
