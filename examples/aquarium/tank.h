// The aquarium's inhabitants and how they move, apart from any drawing.
//
// Positions are in pixels of the window drawn into; a scale makes the same
// tank fit a full screen and the small preview window of the control panel.
#pragma once

#include "examples/aquarium/options.h"

// The sprite sheet (the saver's .DAT file, drawn by draw_art.py): a 32-bit
// BMP with premultiplied alpha. Row k holds fish kind k in four cells:
// facing right with the tail in two positions, then facing left likewise.
// Below them one row of bubble cells, smallest first.
enum SheetLayout {
    FishCellWidth = 96,
    FishCellHeight = 48,
    FishKinds = 4,
    FishFrames = 2,
    BubbleCell = 32,
    BubbleSizes = 4,
    BubbleRowTop = FishKinds * FishCellHeight,
    SheetWidth = 2 * FishFrames * FishCellWidth,
    SheetHeight = BubbleRowTop + BubbleCell,
};

// The sizes the bubble cells are drawn at, so that plain circles can stand
// in for them when the sheet is missing.
extern const int BubbleDiameters[BubbleSizes];

enum { MaxBubbles = 64, Vents = 3 };

struct Fish {
    float x, y;     // top left corner of the drawn sprite
    float speed;    // pixels a second at scale 1, before the speed setting
    float phase;    // of the up and down bob and of the tail beat
    float baseY;    // the depth the fish bobs around
    int kind;       // row of the sprite sheet
    int facingLeft; // 0 or 1
};

struct Bubble {
    float x, y; // centre
    float rise; // pixels a second at scale 1
    float phase;
    int size; // index into BubbleDiameters
    int alive;
};

struct Tank {
    int width, height;
    float scale;
    float speedFactor;
    unsigned random;
    unsigned fishCount;
    Fish fish[MaxFish];
    Bubble bubbles[MaxBubbles];
    float vents[Vents]; // x of each spring of bubbles, as a share of the width
    float untilNextBubble;
};

void InitTank(Tank* tank, const SaverSettings& settings, int width, int height, unsigned seed);

// Moves everything on by `seconds` (cut to a tenth of a second, so that a
// stalled machine does not make the fish jump across the tank).
void StepTank(Tank* tank, float seconds);

// Which tail position a fish shows now, 0 or 1.
int FishFrame(const Fish& fish);
