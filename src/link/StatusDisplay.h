// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The status field: a one-line text with a background colour. Operations of
// the link and the editor report what they do through it.

#include <cstdint>
#include <optional>
#include <string>

struct Rgb {
    uint8_t red, green, blue;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kAqua{0, 255, 255};
inline constexpr Rgb kLime{0, 255, 0};

class StatusDisplay {
public:
    virtual ~StatusDisplay() = default;
    // Sets the text; with a colour also the background (without one the last
    // colour stays). repaintNow draws the field before returning, so the text
    // is visible during a following busy wait or serial exchange.
    virtual void ShowStatus(const std::string& text, std::optional<Rgb> colour,
                            bool repaintNow) = 0;
};
