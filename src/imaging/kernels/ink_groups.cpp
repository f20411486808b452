// The 8-connected groups of a 1-bit page by runs and union-find, and the rules that pick its specks
// and edge regions.
#include "imaging/kernels/ink_groups.h"

#include "imaging/kernels/bytes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>

namespace {

struct Run {
    int left, right, group;
};

struct Group {
    int parent;
    long long pixels;
    int left, right, top, bottom;
    bool touchesEdge, reachesIn;
};

// Adds the pixels, box and edge facts of `from` to `into`.
void Absorb(Group& into, const Group& from)
{
    into.pixels += from.pixels;
    into.left = std::min(into.left, from.left), into.right = std::max(into.right, from.right);
    into.top = std::min(into.top, from.top), into.bottom = std::max(into.bottom, from.bottom);
    into.touchesEdge |= from.touchesEdge, into.reachesIn |= from.reachesIn;
}

// The runs of a page and its groups: the runs of row y are runs[rowStart[y]] up to runs[rowStart[y + 1]].
struct Labels {
    std::vector<Run> runs;
    std::vector<int> rowStart;
    std::vector<Group> groups;

    int Root(int group)
    {
        while (groups[static_cast<std::size_t>(group)].parent != group) {
            Group& g = groups[static_cast<std::size_t>(group)];
            g.parent = groups[static_cast<std::size_t>(g.parent)].parent;  // path halving
            group = g.parent;
        }
        return group;
    }

    void Join(int a, int b)
    {
        a = Root(a), b = Root(b);
        if (a == b) return;
        if (groups[static_cast<std::size_t>(a)].pixels < groups[static_cast<std::size_t>(b)].pixels) std::swap(a, b);
        Absorb(groups[static_cast<std::size_t>(a)], groups[static_cast<std::size_t>(b)]);
        groups[static_cast<std::size_t>(b)].parent = a;
    }
};

// Appends the black runs of one row.
void ReadRuns(const std::uint8_t* row, int width, std::vector<Run>& runs)
{
    bool inRun = false;
    int start = 0;
    for (int x = 0; x < width; x += 64) {
        std::uint64_t word = RowBits64(row, x, width);
        if (word == (inRun ? ~std::uint64_t{0} : 0)) continue;
        int at = 0;
        while (at < 64) {
            std::uint64_t rest = (inRun ? ~word : word) << at;
            if (rest == 0) break;
            at += std::countl_zero(rest);
            if (inRun) {
                runs.push_back({start, std::min(x + at, width) - 1, -1});
            } else {
                start = x + at;
            }
            inRun = !inRun;
        }
    }
    if (inRun) runs.push_back({start, width - 1, -1});
}

// Gives each run of row y a group: the group of the first run above it touches, joined with the
// groups of the others, or a new one.
void JoinRow(Labels& page, int y, int width, int height, int depth)
{
    std::size_t above = static_cast<std::size_t>(y > 0 ? page.rowStart[static_cast<std::size_t>(y) - 1] : 0);
    std::size_t aboveEnd = static_cast<std::size_t>(page.rowStart[static_cast<std::size_t>(y)]);
    bool deepRow = y >= depth && y < height - depth;
    for (std::size_t i = aboveEnd; i < page.runs.size(); ++i) {
        Run& run = page.runs[i];
        while (above < aboveEnd && page.runs[above].right < run.left - 1) ++above;
        for (std::size_t k = above; k < aboveEnd && page.runs[k].left <= run.right + 1; ++k) {
            if (run.group < 0) {
                run.group = page.Root(page.runs[k].group);
            } else {
                page.Join(run.group, page.runs[k].group);
            }
        }
        Group facts{0, run.right - run.left + 1, run.left, run.right, y, y,
                    run.left == 0 || run.right == width - 1 || y == 0 || y == height - 1,
                    deepRow && run.right >= depth && run.left < width - depth};
        if (run.group < 0) {
            run.group = facts.parent = static_cast<int>(page.groups.size());
            page.groups.push_back(facts);
        } else {
            Absorb(page.groups[static_cast<std::size_t>(page.Root(run.group))], facts);
        }
    }
}

Labels LabelGroups(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height, int depth)
{
    Labels page;
    page.rowStart.reserve(static_cast<std::size_t>(height) + 1);
    page.runs.reserve(static_cast<std::size_t>(height) * 64);  // a text page's share; more grows as needed
    for (int y = 0; y < height; ++y) {
        page.rowStart.push_back(static_cast<int>(page.runs.size()));
        ReadRuns(bits + y * stride, width, page.runs);
        JoinRow(page, y, width, height, depth);
    }
    page.rowStart.push_back(static_cast<int>(page.runs.size()));
    for (Run& run : page.runs) run.group = page.Root(run.group);
    return page;
}

// The bits of pixels left..right that lie in byte `byte` of a row.
std::uint8_t SpanMask(int byte, int left, int right)
{
    int from = std::max(left, byte * 8) - byte * 8, to = std::min(right, byte * 8 + 7) - byte * 8;
    return static_cast<std::uint8_t>((0xFF >> from) & (0xFF << (7 - to)));
}

// A 1-bit plane of the page's size, rows packed without padding.
struct Plane {
    int width = 0, height = 0;
    std::size_t rowBytes = 0;
    std::vector<std::uint8_t> bits;

    void Paint(int y, int left, int right, bool black)
    {
        std::uint8_t* row = bits.data() + static_cast<std::size_t>(y) * rowBytes;
        for (int byte = left / 8; byte <= right / 8; ++byte) {
            std::uint8_t mask = SpanMask(byte, left, right);
            row[byte] = static_cast<std::uint8_t>(black ? row[byte] | mask : row[byte] & ~mask);
        }
    }

    bool AnyBlack(int left, int top, int right, int bottom) const
    {
        left = std::max(left, 0), top = std::max(top, 0);
        right = std::min(right, width - 1), bottom = std::min(bottom, height - 1);
        int first = left / 8, last = right / 8;
        std::uint8_t firstMask = SpanMask(first, left, right), lastMask = SpanMask(last, left, right);
        // From the middle row outwards: ink near a group is most often close to it.
        int middle = (top + bottom) / 2;
        for (int i = 0; i <= 2 * (bottom - top); ++i) {
            int y = i % 2 ? middle - (i + 1) / 2 : middle + i / 2;
            if (y < top || y > bottom) continue;
            const std::uint8_t* row = bits.data() + static_cast<std::size_t>(y) * rowBytes;
            std::uint8_t any = static_cast<std::uint8_t>((row[first] & firstMask) | (row[last] & lastMask));
            for (int byte = first + 1; byte < last; ++byte) any |= row[byte];
            if (any) return true;
        }
        return false;
    }
};

enum class Fate : std::uint8_t { Kept, Speck, Edge, Small, Queued };

// The larger ink of the page in a 1-bit plane, with the runs of each small group listed to put it back.
struct LargerInk {
    struct Listed {
        int y, left, right, next;
    };
    Plane plane;
    std::vector<Listed> runs;
    std::vector<int> firstRun;

    LargerInk(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height, const Labels& page,
              const std::vector<Fate>& fates)
        : plane{width, height, (static_cast<std::size_t>(width) + 7) / 8, {}}, firstRun(page.groups.size(), -1)
    {
        plane.bits.resize(plane.rowBytes * static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = bits + y * stride;
            std::copy(row, row + plane.rowBytes, plane.bits.begin() + static_cast<std::ptrdiff_t>(plane.rowBytes) * y);
            for (int i = page.rowStart[static_cast<std::size_t>(y)]; i < page.rowStart[static_cast<std::size_t>(y) + 1]; ++i) {
                const Run& run = page.runs[static_cast<std::size_t>(i)];
                Fate fate = fates[static_cast<std::size_t>(run.group)];
                if (fate == Fate::Kept) continue;
                plane.Paint(y, run.left, run.right, false);
                if (fate != Fate::Small) continue;
                int& first = firstRun[static_cast<std::size_t>(run.group)];
                runs.push_back({y, run.left, run.right, first});
                first = static_cast<int>(runs.size()) - 1;
            }
        }
    }

    void PutBack(int group)
    {
        for (int k = firstRun[static_cast<std::size_t>(group)]; k >= 0; k = runs[static_cast<std::size_t>(k)].next) {
            const Listed& run = runs[static_cast<std::size_t>(k)];
            plane.Paint(run.y, run.left, run.right, true);
        }
    }
};

// The small groups whose reach touches each cell of a grid over the page.
struct Neighbourhood {
    int reach, cell, columns, rows;
    std::vector<int> listed, groups;  // the groups of cell c: groups[listed[c]] up to groups[listed[c + 1]]

    template <class Visit>
    void Cells(const Group& g, int margin, Visit visit) const
    {
        for (int y = std::max(0, (g.top - margin) / cell); y <= std::min(rows - 1, (g.bottom + margin) / cell); ++y)
            for (int x = std::max(0, (g.left - margin) / cell); x <= std::min(columns - 1, (g.right + margin) / cell); ++x)
                visit(static_cast<std::size_t>(y) * columns + x);
    }

    Neighbourhood(const Labels& page, const std::vector<int>& small, int width, int height, int reachPx)
        : reach(reachPx), cell(std::max(64, reachPx)), columns((width + cell - 1) / cell), rows((height + cell - 1) / cell),
          listed(static_cast<std::size_t>(columns) * rows + 1, 0)
    {
        for (int group : small) Cells(page.groups[static_cast<std::size_t>(group)], reach, [&](std::size_t c) { ++listed[c + 1]; });
        std::partial_sum(listed.begin(), listed.end(), listed.begin());
        groups.resize(static_cast<std::size_t>(listed.back()));
        std::vector<int> fill(listed.begin(), listed.end() - 1);
        for (int group : small) {
            Cells(page.groups[static_cast<std::size_t>(group)], reach,
                  [&](std::size_t c) { groups[static_cast<std::size_t>(fill[c]++)] = group; });
        }
    }

    // True when ink of `kept` lies within reach of the box of `other`.
    bool Near(const Group& kept, const Group& other) const
    {
        return other.left - reach <= kept.right && kept.left <= other.right + reach && other.top - reach <= kept.bottom &&
               kept.top <= other.bottom + reach;
    }
};

// The small groups taken out of the larger ink, then put back while ink lies within reach of their
// box; those never put back are specks. Each is looked at once, and again whenever a group near it
// is put back.
void FindSpecks(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height, const CleanupRules& rules,
                const Labels& page, std::vector<Fate>& fates)
{
    std::vector<int> small;
    for (std::size_t g = 0; g < page.groups.size(); ++g) {
        if (page.groups[g].parent == static_cast<int>(g) && fates[g] == Fate::Kept &&
            page.groups[g].pixels <= rules.speckPixels) {
            fates[g] = Fate::Small;
            small.push_back(static_cast<int>(g));
        }
    }
    if (small.empty()) return;
    LargerInk ink(bits, stride, width, height, page, fates);
    Neighbourhood around(page, small, width, height, rules.speckReach);
    int reach = rules.speckReach;
    std::vector<int> queue(small.rbegin(), small.rend());
    for (int group : small) fates[static_cast<std::size_t>(group)] = Fate::Queued;
    while (!queue.empty()) {
        int group = queue.back();
        queue.pop_back();
        const Group& g = page.groups[static_cast<std::size_t>(group)];
        fates[static_cast<std::size_t>(group)] = Fate::Small;
        if (!ink.plane.AnyBlack(g.left - reach, g.top - reach, g.right + reach, g.bottom + reach)) continue;
        fates[static_cast<std::size_t>(group)] = Fate::Kept;
        ink.PutBack(group);
        around.Cells(g, 0, [&](std::size_t c) {
            for (int k = around.listed[c]; k < around.listed[c + 1]; ++k) {
                int other = around.groups[static_cast<std::size_t>(k)];
                if (fates[static_cast<std::size_t>(other)] != Fate::Small ||
                    !around.Near(g, page.groups[static_cast<std::size_t>(other)])) {
                    continue;
                }
                fates[static_cast<std::size_t>(other)] = Fate::Queued;
                queue.push_back(other);
            }
        });
    }
    for (int group : small) {
        if (fates[static_cast<std::size_t>(group)] == Fate::Small) fates[static_cast<std::size_t>(group)] = Fate::Speck;
    }
}

}  // namespace

CleanupRules CleanupRulesAt(double dpi, int speckPixels, bool specks, bool edges)
{
    double scale = dpi / 600;
    CleanupRules rules;
    if (specks) {
        rules.speckPixels = speckPixels > 0 ? speckPixels : static_cast<int>(std::lround(40 * scale * scale));
        rules.speckReach = static_cast<int>(std::lround(1.5 / 25.4 * dpi));
    }
    if (edges) rules.edgeDepth = static_cast<int>(std::lround(15 / 25.4 * dpi));
    return rules;
}

CleanupFound FindSpecksAndEdges(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height,
                                const CleanupRules& rules)
{
    CleanupFound found;
    if (width <= 0 || height <= 0 || (rules.speckPixels <= 0 && rules.edgeDepth <= 0)) return found;
    int depth = std::min(rules.edgeDepth, std::min(width, height) / 4);
    Labels page = LabelGroups(bits, stride, width, height, depth);
    std::vector<Fate> fates(page.groups.size(), Fate::Kept);
    for (std::size_t g = 0; g < page.groups.size(); ++g) {
        const Group& group = page.groups[g];
        if (depth > 0 && group.parent == static_cast<int>(g) && group.touchesEdge && !group.reachesIn) {
            fates[g] = Fate::Edge;
            ++found.edges;
        }
    }
    if (rules.speckPixels > 0) FindSpecks(bits, stride, width, height, rules, page, fates);
    for (std::size_t g = 0; g < page.groups.size(); ++g) {
        found.specks += page.groups[g].parent == static_cast<int>(g) && fates[g] == Fate::Speck;
    }
    for (int y = 0; y < height; ++y) {
        for (int i = page.rowStart[static_cast<std::size_t>(y)]; i < page.rowStart[static_cast<std::size_t>(y) + 1]; ++i) {
            const Run& run = page.runs[static_cast<std::size_t>(i)];
            if (fates[static_cast<std::size_t>(run.group)] != Fate::Kept) found.runs.push_back({y, run.left, run.right});
        }
    }
    return found;
}

void WhitenRuns(std::uint8_t* bits, std::ptrdiff_t stride, const std::vector<InkRun>& runs)
{
    for (const InkRun& run : runs) {
        std::uint8_t* row = bits + run.y * stride;
        for (int byte = run.left / 8; byte <= run.right / 8; ++byte) {
            row[byte] &= static_cast<std::uint8_t>(~SpanMask(byte, run.left, run.right));
        }
    }
}
