#include <algorithm>
#include <cmath>
#include <utility>

#include "virtual_sensor.h"

namespace kl::vsensor {
namespace {

uint16_t Word(const std::vector<uint8_t>& image, size_t offset) {
  if (offset + 1 >= image.size()) return 0;
  return static_cast<uint16_t>(image[offset] | (image[offset + 1] << 8));
}

void PutWord(std::vector<uint8_t>& image, size_t offset, uint16_t value) {
  if (offset + 1 >= image.size()) return;
  image[offset] = static_cast<uint8_t>(value & 0xFF);
  image[offset + 1] = static_cast<uint8_t>(value >> 8);
}

// Appends one tank record at the image's current end.
void AddTank(std::vector<uint8_t>& image, uint16_t id, uint16_t height, uint16_t mlPerUnit, uint16_t slots,
             const std::vector<std::pair<uint16_t, uint16_t>>& points) {
  const size_t at = Word(image, 0);
  const uint16_t size = static_cast<uint16_t>(10 + 4 * slots);
  PutWord(image, at + 0, size);
  PutWord(image, at + 2, id);
  PutWord(image, at + 4, height);
  PutWord(image, at + 6, static_cast<uint16_t>(points.size()));
  PutWord(image, at + 8, mlPerUnit);
  for (size_t i = 0; i < points.size(); ++i) {
    PutWord(image, at + 10 + 4 * i, points[i].first);
    PutWord(image, at + 12 + 4 * i, points[i].second);
  }
  PutWord(image, 0, static_cast<uint16_t>(at + size));
  PutWord(image, 6, static_cast<uint16_t>(Word(image, 6) + 1));
}

}  // namespace

uint16_t HubWordSum(const std::vector<uint8_t>& image) {
  const size_t words = std::min<size_t>(Word(image, 0) / 2, image.size() / 2);
  uint16_t sum = 0;
  for (size_t i = 0; i < words; ++i) sum = static_cast<uint16_t>(sum + Word(image, 2 * i));
  return sum;
}

void HubSealImage(std::vector<uint8_t>& image) {
  if (image.size() < 16) return;
  PutWord(image, 2, 0);
  PutWord(image, 2, static_cast<uint16_t>(0u - HubWordSum(image)));
}

bool HubImageValid(const std::vector<uint8_t>& image) {
  return image.size() >= 16 && Word(image, 4) == kHubVersion && HubWordSum(image) == 0;
}

std::vector<uint8_t> DefaultHubImage() {
  std::vector<uint8_t> image(kHubSize, 0);
  PutWord(image, 0, 16);  // header only, records follow
  PutWord(image, 4, kHubVersion);
  PutWord(image, 8, 1);  // 1 ml per bit
  AddTank(image, 0, 0, 1, 0, {});
  // The technician's own tank, calibrated by filling in a few portions.
  AddTank(image, 1, 0, 1000, 50, {{0, 0}, {500, 21}, {1500, 68}, {3000, 142}, {4500, 219}, {6000, 291}});
  // A rectangular 400 l tank, 500 mm high.
  std::vector<std::pair<uint16_t, uint16_t>> box;
  for (int i = 0; i <= 10; ++i)
    box.emplace_back(static_cast<uint16_t>(500 * i), static_cast<uint16_t>(400 * i));
  AddTank(image, 2, 5000, 100, 11, box);
  // A horizontal cylinder, 700 mm across and 1200 mm long.
  std::vector<std::pair<uint16_t, uint16_t>> cyl;
  const double r = 350.0, length = 1200.0;
  for (int i = 0; i <= 14; ++i) {
    const double h = 50.0 * i;  // mm
    const double area = r * r * std::acos((r - h) / r) - (r - h) * std::sqrt(2 * r * h - h * h);
    const double litres = area * length / 1e6;
    cyl.emplace_back(static_cast<uint16_t>(h * 10), static_cast<uint16_t>(litres * 10 + 0.5));
  }
  AddTank(image, 3, 7000, 100, 15, cyl);
  // A 200 l drum standing upright.
  AddTank(image, 4, 8800, 10, 5, {{0, 0}, {2200, 5000}, {4400, 10000}, {6600, 15000}, {8800, 20000}});
  HubSealImage(image);
  return image;
}

}  // namespace kl::vsensor
