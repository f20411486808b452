// Scan clean-up on a page's 1-bit picture: the 8-connected groups of black pixels, and which of them
// are specks (small groups standing apart from the text) or black scanner edges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Black pixels left..right (inclusive) of row y.
struct InkRun {
    int y = 0, left = 0, right = 0;
};

// What to look for, in pixels of the page. A zero size or depth looks for none of that kind.
struct CleanupRules {
    int speckPixels = 0;  // a speck has at most this many pixels
    int speckReach = 0;   // and no larger ink this near the box around it
    int edgeDepth = 0;    // an edge region touches the page's edge and reaches no further in
};

// The rules at a resolution: specks of at most 40 pixels at 600 DPI (about a 6-point period), scaled
// with the square of the resolution, or `speckPixels` when it is above 0; a reach of 1.5 mm (35
// pixels at 600 DPI); edges of at most 15 mm (354 pixels at 600 DPI). `specks` and `edges` choose
// which kinds are looked for.
CleanupRules CleanupRulesAt(double dpi, int speckPixels, bool specks, bool edges);

// The runs to turn white, in row order, and how many groups they make.
struct CleanupFound {
    std::vector<InkRun> runs;
    int specks = 0;
    int edges = 0;
};

// The specks and edge regions of a width x height page of 1-bit rows (most significant bit first,
// 1 black; bits after the width ignored), rows `stride` bytes apart (either sign).
// An edge region is a group that touches the page's edge and lies wholly within `edgeDepth` of it
// (never deeper than a quarter of the shorter side): text, rules and pictures that reach further in
// are content and are kept, even where they touch the edge.
// A speck is a group of at most `speckPixels` pixels that is not an edge region and has no ink of a
// larger group, nor of a small group kept this way, within `speckReach` of the box around it (counted
// in rows and columns): a period, comma, accent or i dot sits beside its letters and is kept; a speck
// standing apart (at 600 DPI, 60 pixels or more from other ink) is removed. Edge regions are not ink
// that keeps a speck.
// Method: the black runs of each row are read a 64-bit word at a time and joined to the runs they
// touch in the row above (8-connected) by union-find over groups that carry their pixel count, box
// and edge facts. The small groups are then taken out of a 1-bit copy of the page's larger ink; each
// is looked at once, put back when ink lies within reach of its box, and looked at again whenever a
// small group near it is put back.
// Cost: one pass over the bits plus a step per run (an A4 text page at 600 DPI in about 15 ms, the
// time of a memcpy of its 24-bit picture); memory 12 bytes per run and 40 per group, and when there
// are small groups one 1-bit copy of the page and the reach's rows of the box of each read once per look.
CleanupFound FindSpecksAndEdges(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height,
                                const CleanupRules& rules);

// Turns the pixels of `runs` white in 1-bit rows laid out as above.
void WhitenRuns(std::uint8_t* bits, std::ptrdiff_t stride, const std::vector<InkRun>& runs);
