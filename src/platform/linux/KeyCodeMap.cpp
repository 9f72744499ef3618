#include "platform/linux/KeyCodeMap.h"

#include <utility>

namespace velmora::desktop {
namespace {

// {X key code, virtual key code}. Control stands where Command stands on the other keyboard, so
// the left and right Control keys take Command's codes and Super takes Control's.
constexpr std::pair<int, int> kPositions[] = {
    {38, 0},    {39, 1},    {40, 2},    {41, 3},    {43, 4},    {42, 5},    {52, 6},    {53, 7},
    {54, 8},    {55, 9},    {94, 10},   {56, 11},   {24, 12},   {25, 13},   {26, 14},   {27, 15},
    {29, 16},   {28, 17},   {10, 18},   {11, 19},   {12, 20},   {13, 21},   {15, 22},   {14, 23},
    {21, 24},   {18, 25},   {16, 26},   {20, 27},   {17, 28},   {19, 29},   {35, 30},   {32, 31},
    {30, 32},   {34, 33},   {31, 34},   {33, 35},   {36, 36},   {46, 37},   {44, 38},   {48, 39},
    {45, 40},   {47, 41},   {51, 42},   {59, 43},   {61, 44},   {57, 45},   {58, 46},   {60, 47},
    {23, 48},   {65, 49},   {49, 50},   {22, 51},   {9, 53},    {105, 54},  {37, 55},   {50, 56},
    {66, 57},   {64, 58},   {133, 59},  {62, 60},   {108, 61},  {134, 62},  {91, 65},   {63, 67},
    {86, 69},   {77, 71},   {106, 75},  {104, 76},  {82, 78},   {125, 81},  {90, 82},   {87, 83},
    {88, 84},   {89, 85},   {83, 86},   {84, 87},   {85, 88},   {79, 89},   {80, 91},   {81, 92},
    {71, 96},   {72, 97},   {73, 98},   {69, 99},   {74, 100},  {75, 101},  {95, 103},  {76, 109},
    {96, 111},  {118, 114}, {110, 115}, {112, 116}, {119, 117}, {70, 118},  {115, 119}, {68, 120},
    {117, 121}, {67, 122},  {113, 123}, {114, 124}, {116, 125}, {111, 126},
};

}  // namespace

int virtualKeyCodeForXKeycode(int xKeycode) {
    for (const auto& [x, virtualCode] : kPositions) {
        if (x == xKeycode) {
            return virtualCode;
        }
    }
    return -1;
}

int xKeycodeForVirtualKeyCode(int virtualKeyCode) {
    for (const auto& [x, virtualCode] : kPositions) {
        if (virtualCode == virtualKeyCode) {
            return x;
        }
    }
    return -1;
}

}  // namespace velmora::desktop
