// Numbers written and read in the user's notation.
//
// The calibration rows and the calculator hold numbers as texts in the user's
// decimal notation, and those texts must read back exactly as they were
// written. The process-wide C locale is never consulted: the window fills a
// NumberLocale from the user's locale and hands it to every call, so the
// result does not depend on whatever setlocale() a library did behind our back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kl {

struct NumberLocale {
  // The decimal separator as UTF-8 text; usually "." or ",". It must not be
  // empty, a digit, a sign, a space or a letter of the exponent.
  std::string decimal_point = ".";
};

// A decimal number: optional blanks, optional sign, digits with at most one
// decimal separator (the locale's, never the other one), an optional exponent
// (e or E, optional sign, digits), optional blanks. No infinities, no NaN, no
// hexadecimal, no thousands separators. Values beyond the type's range are
// not numbers.
std::optional<double> ParseDecimal(std::string_view text, const NumberLocale& loc);

// The same text read directly into single precision (correctly rounded, not
// via double), as the calibration rows compare 32-bit litres exactly.
std::optional<float> ParseFloat32(std::string_view text, const NumberLocale& loc);

// A whole number: optional blanks, optional sign, decimal digits, optional
// blanks; within the signed 32-bit range.
std::optional<std::int32_t> ParseWhole(std::string_view text);

// printf("%.1f") in the locale's notation.
std::string FormatFixed1(double value, const NumberLocale& loc);

// printf("%.15g") in the locale's notation: the shortest general form with
// up to 15 significant digits (0.378, 44.088, 196).
std::string FormatGeneral(double value, const NumberLocale& loc);

// printf("%i").
std::string FormatWhole(std::int64_t value);

}  // namespace kl
