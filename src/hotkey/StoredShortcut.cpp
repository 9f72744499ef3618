#include "hotkey/StoredShortcut.h"

#include <utility>

namespace velmora {
namespace {

using platform::Modifier;

// {stored key code, key position}. The primary modifier's keys (stored 55 and 54) are the Control
// keys and the secondary ones (59, 62) the Super keys, as for the modifier bits.
constexpr std::pair<std::uint16_t, std::uint16_t> kPositions[] = {
    {0, 30},    {1, 31},    {2, 32},    {3, 33},    {4, 35},    {5, 34},    {6, 44},    {7, 45},
    {8, 46},    {9, 47},    {10, 86},   {11, 48},   {12, 16},   {13, 17},   {14, 18},   {15, 19},
    {16, 21},   {17, 20},   {18, 2},    {19, 3},    {20, 4},    {21, 5},    {22, 7},    {23, 6},
    {24, 13},   {25, 10},   {26, 8},    {27, 12},   {28, 9},    {29, 11},   {30, 27},   {31, 24},
    {32, 22},   {33, 26},   {34, 23},   {35, 25},   {36, 28},   {37, 38},   {38, 36},   {39, 40},
    {40, 37},   {41, 39},   {42, 43},   {43, 51},   {44, 53},   {45, 49},   {46, 50},   {47, 52},
    {48, 15},   {49, 57},   {50, 41},   {51, 14},   {53, 1},    {54, 97},   {55, 29},   {56, 42},
    {57, 58},   {58, 56},   {59, 125},  {60, 54},   {61, 100},  {62, 126},  {65, 83},   {67, 55},
    {69, 78},   {71, 69},   {75, 98},   {76, 96},   {78, 74},   {81, 117},  {82, 82},   {83, 79},
    {84, 80},   {85, 81},   {86, 75},   {87, 76},   {88, 77},   {89, 71},   {91, 72},   {92, 73},
    {96, 63},   {97, 64},   {98, 65},   {99, 61},   {100, 66},  {101, 67},  {103, 87},  {109, 68},
    {111, 88},  {114, 110}, {115, 102}, {116, 104}, {117, 111}, {118, 62},  {119, 107}, {120, 60},
    {121, 109}, {122, 59},  {123, 105}, {124, 106}, {125, 108}, {126, 103},
};

constexpr std::pair<std::uint32_t, Modifier> kModifierBits[] = {
    {0x0100, Modifier::Control},
    {0x0200, Modifier::Shift},
    {0x0800, Modifier::Alt},
    {0x1000, Modifier::Super},
};

constexpr std::uint16_t kPositionCodes = 0x8000;

std::optional<std::uint16_t> positionForCode(std::uint16_t keyCode) {
    if (keyCode >= kPositionCodes) {
        return static_cast<std::uint16_t>(keyCode - kPositionCodes);
    }
    for (const auto& [code, position] : kPositions) {
        if (code == keyCode) {
            return position;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<platform::Shortcut> StoredShortcut::shortcut() const {
    const std::optional<std::uint16_t> position = positionForCode(keyCode);
    if (!position) {
        return std::nullopt;
    }
    platform::Modifiers mods;
    for (const auto& [bit, modifier] : kModifierBits) {
        if (modifiers & bit) {
            mods |= modifier;
        }
    }
    return platform::Shortcut{{*position}, mods};
}

StoredShortcut StoredShortcut::from(const platform::Shortcut& shortcut) {
    StoredShortcut stored{static_cast<std::uint16_t>(kPositionCodes + shortcut.key.position), 0};
    for (const auto& [code, position] : kPositions) {
        if (position == shortcut.key.position) {
            stored.keyCode = code;
            break;
        }
    }
    for (const auto& [bit, modifier] : kModifierBits) {
        if (shortcut.modifiers.has(modifier)) {
            stored.modifiers |= bit;
        }
    }
    return stored;
}

}  // namespace velmora
