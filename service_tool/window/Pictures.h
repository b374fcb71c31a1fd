// The two logo pictures, drawn by the program itself so that it carries no
// picture files: the splash picture and the strip above the pages.
#pragma once

#include <QImage>

namespace kl {

inline constexpr int kLogoWidth = 1024, kLogoHeight = 390;
inline constexpr int kLogoShortWidth = 2024, kLogoShortHeight = 28;

// Transparent outside the rounded card, so the splash shows only the card.
QImage DrawLogo();
QImage DrawLogoShort();

}  // namespace kl
