#include "examples/aquarium/tank.h"

#include <math.h>

const int BubbleDiameters[BubbleSizes] = {10, 16, 22, 30};

// A small generator of our own, so a given seed gives the same tank on
// every system.
static unsigned NextRandom(Tank* tank) {
    tank->random = tank->random * 1664525u + 1013904223u;
    return tank->random >> 8;
}

static float RandomBetween(Tank* tank, float low, float high) {
    return low + (high - low) * (float)(NextRandom(tank) & 0xFFFF) / 65535.0f;
}

static float FishWidth(const Tank* tank) {
    return FishCellWidth * tank->scale;
}

static float FishHeight(const Tank* tank) {
    return FishCellHeight * tank->scale;
}

// Fish keep to the water between the surface and the sand.
static void PlaceFish(Tank* tank, Fish* fish, int anywhere) {
    fish->kind = (int)(NextRandom(tank) % FishKinds);
    fish->facingLeft = (int)(NextRandom(tank) & 1);
    fish->speed = RandomBetween(tank, 40.0f, 110.0f);
    fish->phase = RandomBetween(tank, 0.0f, 6.2832f);
    float top = tank->height * 0.08f;
    float bottom = tank->height * 0.78f - FishHeight(tank);
    fish->baseY = RandomBetween(tank, top, bottom > top ? bottom : top);
    fish->y = fish->baseY;
    if (anywhere)
        fish->x = RandomBetween(tank, 0.0f, tank->width - FishWidth(tank));
    else
        fish->x = fish->facingLeft ? (float)tank->width : -FishWidth(tank);
}

void InitTank(Tank* tank, const SaverSettings& settings, int width, int height, unsigned seed) {
    tank->width = width > 1 ? width : 1;
    tank->height = height > 1 ? height : 1;
    // Sprites are drawn for a screen 768 pixels high.
    tank->scale = tank->height / 768.0f;
    if (tank->scale < 0.15f)
        tank->scale = 0.15f;
    tank->speedFactor = SpeedFactors[ClampSettings(settings.fish, settings.speed).speed];
    tank->random = seed;
    tank->fishCount = ClampSettings(settings.fish, settings.speed).fish;
    for (unsigned i = 0; i < tank->fishCount; ++i)
        PlaceFish(tank, &tank->fish[i], 1);
    for (Bubble& b : tank->bubbles)
        b.alive = 0;
    for (float& v : tank->vents)
        v = RandomBetween(tank, 0.1f, 0.9f);
    tank->untilNextBubble = 0;
}

// A fish that has swum out of the tank comes back at another depth, or
// turns round where it is, as real ones do now and then.
static void MoveFish(Tank* tank, Fish* fish, float seconds) {
    const float step = fish->speed * tank->scale * tank->speedFactor * seconds;
    fish->x += fish->facingLeft ? -step : step;
    fish->phase += seconds * 2.5f * tank->speedFactor;
    fish->y = fish->baseY + sinf(fish->phase * 0.5f) * 6.0f * tank->scale;
    const int outLeft = fish->x < -FishWidth(tank);
    const int outRight = fish->x > tank->width;
    if (outLeft || outRight) {
        PlaceFish(tank, fish, 0);
        fish->facingLeft = outRight;
        fish->x = outRight ? (float)tank->width : -FishWidth(tank);
    } else if ((NextRandom(tank) % 4000) == 0) {
        fish->facingLeft = !fish->facingLeft;
    }
}

static void SpawnBubble(Tank* tank) {
    for (Bubble& b : tank->bubbles) {
        if (b.alive)
            continue;
        const float vent = tank->vents[NextRandom(tank) % Vents];
        b.alive = 1;
        b.size = (int)(NextRandom(tank) % BubbleSizes);
        b.x = (vent + RandomBetween(tank, -0.01f, 0.01f)) * tank->width;
        b.y = tank->height * 0.86f; // at the sand
        b.rise = RandomBetween(tank, 50.0f, 90.0f) + 15.0f * b.size;
        b.phase = RandomBetween(tank, 0.0f, 6.2832f);
        return;
    }
}

static void MoveBubble(Tank* tank, Bubble* b, float seconds) {
    b->y -= b->rise * tank->scale * tank->speedFactor * seconds;
    b->phase += seconds * 3.0f;
    b->x += sinf(b->phase) * 12.0f * tank->scale * seconds;
    if (b->y < -BubbleCell * tank->scale)
        b->alive = 0;
}

void StepTank(Tank* tank, float seconds) {
    if (seconds > 0.1f)
        seconds = 0.1f;
    if (seconds < 0)
        seconds = 0;
    for (unsigned i = 0; i < tank->fishCount; ++i)
        MoveFish(tank, &tank->fish[i], seconds);
    for (Bubble& b : tank->bubbles)
        if (b.alive)
            MoveBubble(tank, &b, seconds);
    tank->untilNextBubble -= seconds * tank->speedFactor;
    while (tank->untilNextBubble <= 0) {
        SpawnBubble(tank);
        tank->untilNextBubble += RandomBetween(tank, 0.08f, 0.35f);
    }
}

int FishFrame(const Fish& fish) {
    return sinf(fish.phase * 2.0f) > 0 ? 1 : 0;
}
