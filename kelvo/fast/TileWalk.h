#pragma once

#include "kelvo/fast/FastWalk.h"
#include "kelvo/view/Camera.h"

namespace kelvo {

// The camera's rays through a screen tile cross the same first leaves: most
// of them cross only empty leaves and leave the domain. Here a tile steps
// from leaf to leaf as one, while the lines from the eye through the tile's
// corners prove that each ray's own step would choose the same face and the
// same next leaf, by a clearance far wider than any ray's rounding. Where
// they do not, the tile is cut along the line on the image plane where the
// choice changes: the rays well to each side go on as a tile of their own,
// those near the line walk on alone. Where a tile reaches a leaf with
// spheres, its rays walk on alone from there (in packets), each with the
// leaves crossed so far added to its count.
namespace TileWalk {

// Whether this build steps tiles at all: only where each operation's result
// is rounded to double, as the clearance assumes (not where x87's registers
// round at another precision).
bool available();

// Where the tile's pixels are: column 0 of row 0 is pixel (x0, y0), whose
// jittered image-plane points lie in [x0, x0 + 1] * pixelWidth by
// [y0, y0 + 1] * pixelHeight.
struct Screen {
    int x0;
    int y0;
    double pixelWidth;
    double pixelHeight;
};

// Where rays start in different leaves, a chunk is halved down to blocks of
// this many columns, each a tile where its rays start together.
inline constexpr int COLUMNS = 8;

// Rows of the camera's rays through the pixels of a screen, as
// Camera::rayThrough makes them; the ray in row r and column x has index
// r * stride + x in each array.
struct Rays {
    int rows;
    int stride;
    // The image-plane point (u, v) each ray passes through.
    const double* u;
    const double* v;
    // Each ray's start leaf; for a ray left to walk, the leaf to walk from.
    int* starts;
    // The hits of the rays the tiles finish.
    FastWalk::Hit* hits;
    // For a ray left to walk, the leaves crossed before its leaf (0 for
    // every ray on entry).
    int* crossed;
    // Whether the ray is left to walk (true for every ray on entry).
    bool* left;
    // Room for one index per ray, in each.
    int* order;
    int* spare;
};

// The leaf where every one of the camera's rays through the pixels of rows
// rows of count from screen starts (their image-plane points all well inside
// it), or -1.
int startLeaf(const FastWalk& walk, const Camera& camera, const Screen& screen, int rows,
              int count);

// The first count columns of rays, stepped tile by tile: each ray either gets
// its hit, or is left to walk (from starts, with crossed). start: the leaf
// where all the rays start (startLeaf's answer), or -1 to take each ray's
// start from starts.
void stepTogether(const FastWalk& walk, const Camera& camera, const Screen& screen,
                  const Rays& rays, int count, int start);

}  // namespace TileWalk
}  // namespace kelvo
