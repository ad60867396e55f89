#include "gif/quantizer.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <new>
#include <system_error>

#include "image/picture.h"

namespace quolb {
namespace {

// Pictures of at least this many pixels are mapped in two bands.
constexpr std::size_t lowerBandPixels = std::size_t{1} << 18;
// Histograms of at least this many occupied cells are refined on two threads.
constexpr std::size_t threadedPoints = std::size_t{1} << 14;

constexpr std::uint32_t packed(Rgb c) { return std::uint32_t{c.red} << 16 | std::uint32_t{c.green} << 8 | c.blue; }
constexpr Rgb unpacked(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

template <int Bits>
Rgb pixelAt(const std::uint8_t* row, std::size_t x) {
    if constexpr (Bits == 16) {
        const unsigned v = unsigned{row[2 * x]} | unsigned{row[2 * x + 1]} << 8;
        return {widen5(v >> 10 & 31), widen5(v >> 5 & 31), widen5(v & 31)};
    } else {
        const std::uint8_t* p = row + x * (Bits / 8);
        return {p[2], p[1], p[0]};
    }
}

template <int Bits>
bool transparentAt(const TrueColourRows& rows, const std::uint8_t* row, std::size_t x, Rgb colour) {
    if (rows.hasKey) return colour == rows.key;
    if constexpr (Bits == 32) return rows.alpha && row[4 * x + 3] < 128;
    return false;
}

const std::uint8_t* rowFromTop(const TrueColourRows& rows, std::size_t y) {
    return rows.bottomRow + (rows.height - 1 - y) * rows.stride;
}

// Open addressing over at most 256 colours; key 0 marks an empty slot.
std::size_t slotOf(std::uint32_t key) { return (key * 2654435761u) >> 22; }

// Returns the slot holding `colour`, or the empty slot where it belongs.
std::size_t findSlot(const std::array<std::uint32_t, 1024>& keys, std::uint32_t colour) {
    const std::uint32_t key = colour | 1u << 24;
    std::size_t slot = slotOf(key);
    while (keys[slot] != 0 && keys[slot] != key) slot = (slot + 1) % keys.size();
    return slot;
}

// What one pass over the pixels finds.
struct Survey {
    // 6 bits per channel: per cell the pixel count and the sums of each
    // channel's two low bits. A DIB is under 2 GiB, so under 2^30 pixels of
    // 16 bits or more, and none of these sums can overflow.
    std::vector<std::uint32_t> cells;  // 4 per cell, when counting
    std::array<std::uint32_t, 1024> keys{};
    std::vector<std::uint32_t> distinct;  // while there are at most 256
    bool few = true;
    std::uint64_t transparentCount = 0;
    std::array<std::uint64_t, 3> transparentSum{};
};

constexpr std::size_t cellOf6(Rgb c) {
    return std::size_t{c.red} >> 2 << 12 | std::size_t{c.green} >> 2 << 6 | std::size_t{c.blue} >> 2;
}

template <int Bits>
void survey(const TrueColourRows& rows, bool histogram, Survey& s) {
    if (histogram) s.cells.assign(4 * 64 * 64 * 64, 0);
    // A big picture's colours are well known from a quarter of its pixels.
    const std::size_t sparse = rows.width * rows.height > (std::size_t{1} << 22) ? 1 : 0;
    const bool transparency = rows.hasKey || (Bits == 32 && rows.alpha);
    std::uint32_t last = ~0u;
    for (std::size_t y = 0; y < rows.height; ++y) {
        const std::uint8_t* row = rowFromTop(rows, y);
        const bool countRow = histogram && (y & sparse) == 0;
        // Once the colours are known to be many, only the counted pixels
        // matter, unless some may be transparent.
        const std::size_t step = !s.few && !transparency ? sparse + 1 : 1;
        if (!countRow && step > 1) continue;
        for (std::size_t x = 0; x < rows.width; x += step) {
            const Rgb c = pixelAt<Bits>(row, x);
            if (transparentAt<Bits>(rows, row, x, c)) {
                ++s.transparentCount;
                s.transparentSum[0] += c.red;
                s.transparentSum[1] += c.green;
                s.transparentSum[2] += c.blue;
                continue;
            }
            if (countRow && (x & sparse) == 0) {
                std::uint32_t* cell = &s.cells[4 * cellOf6(c)];
                cell[0] += 1;
                cell[1] += c.red & 3u;
                cell[2] += c.green & 3u;
                cell[3] += c.blue & 3u;
            }
            const std::uint32_t v = packed(c);
            if (!s.few || v == last) continue;
            last = v;
            const std::size_t slot = findSlot(s.keys, v);
            if (s.keys[slot] != 0) continue;
            if (s.distinct.size() == 256) {
                s.few = false;
                continue;
            }
            s.keys[slot] = v | 1u << 24;
            s.distinct.push_back(v);
        }
    }
}

// Wu's variance-minimising cut on a 5-bit grid of cumulative moments.
class WuCut {
public:
    explicit WuCut(const std::vector<std::uint32_t>& cells) : weight(size), red(size), green(size), blue(size), squares(size) {
        for (std::size_t cell = 0; cell < 64 * 64 * 64; ++cell) {
            const std::uint32_t* c = &cells[4 * cell];
            if (c[0] == 0) continue;
            const std::size_t r6 = cell >> 12, g6 = cell >> 6 & 63, b6 = cell & 63;
            const double n = c[0];
            const double sr = 4.0 * static_cast<double>(r6) * n + c[1];
            const double sg = 4.0 * static_cast<double>(g6) * n + c[2];
            const double sb = 4.0 * static_cast<double>(b6) * n + c[3];
            const std::size_t at = index(r6 / 2 + 1, g6 / 2 + 1, b6 / 2 + 1);
            weight[at] += n;
            red[at] += sr;
            green[at] += sg;
            blue[at] += sb;
            squares[at] += (sr * sr + sg * sg + sb * sb) / n;
        }
        for (std::vector<double>* m : {&weight, &red, &green, &blue, &squares}) accumulate(*m);
    }

    // Up to `count` colours, fewer when the picture has fewer cells.
    std::vector<Rgb> colours(std::size_t count) const {
        std::vector<Box> boxes(count);
        std::vector<double> variance(count, 0.0);
        boxes[0] = Box{0, 32, 0, 32, 0, 32};
        std::size_t made = 1;
        std::size_t next = 0;
        while (made < count) {
            if (cut(boxes[next], boxes[made])) {
                variance[next] = volume(boxes[next], weight) > 1 ? spread(boxes[next]) : 0;
                variance[made] = volume(boxes[made], weight) > 1 ? spread(boxes[made]) : 0;
                ++made;
            } else {
                variance[next] = 0;
            }
            next = static_cast<std::size_t>(std::max_element(variance.begin(), variance.begin() + static_cast<std::ptrdiff_t>(made)) -
                                            variance.begin());
            if (variance[next] <= 0) break;
        }
        std::vector<Rgb> result;
        for (std::size_t i = 0; i < made; ++i) {
            const double w = volume(boxes[i], weight);
            if (w <= 0) continue;
            result.push_back({channel(volume(boxes[i], red) / w), channel(volume(boxes[i], green) / w),
                              channel(volume(boxes[i], blue) / w)});
        }
        return result;
    }

    static std::uint8_t channel(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

private:
    static constexpr std::size_t side = 33;
    static constexpr std::size_t size = side * side * side;
    struct Box { int r0, r1, g0, g1, b0, b1; };  // lower bounds exclusive
    enum Axis { axisRed, axisGreen, axisBlue };

    std::vector<double> weight, red, green, blue, squares;

    static std::size_t index(std::size_t r, std::size_t g, std::size_t b) { return (r * side + g) * side + b; }
    static std::size_t at(int r, int g, int b) {
        return index(static_cast<std::size_t>(r), static_cast<std::size_t>(g), static_cast<std::size_t>(b));
    }

    static void accumulate(std::vector<double>& m) {
        for (std::size_t r = 1; r < side; ++r) {
            std::array<double, side> area{};
            for (std::size_t g = 1; g < side; ++g) {
                double line = 0;
                for (std::size_t b = 1; b < side; ++b) {
                    line += m[index(r, g, b)];
                    area[b] += line;
                    m[index(r, g, b)] = m[index(r - 1, g, b)] + area[b];
                }
            }
        }
    }

    static double volume(const Box& x, const std::vector<double>& m) {
        return m[at(x.r1, x.g1, x.b1)] - m[at(x.r1, x.g1, x.b0)] - m[at(x.r1, x.g0, x.b1)] + m[at(x.r1, x.g0, x.b0)] -
               m[at(x.r0, x.g1, x.b1)] + m[at(x.r0, x.g1, x.b0)] + m[at(x.r0, x.g0, x.b1)] - m[at(x.r0, x.g0, x.b0)];
    }

    // The part of volume() that does not move with the box's upper bound on `axis`.
    static double bottom(const Box& x, Axis axis, const std::vector<double>& m) {
        switch (axis) {
        case axisRed:
            return -m[at(x.r0, x.g1, x.b1)] + m[at(x.r0, x.g1, x.b0)] + m[at(x.r0, x.g0, x.b1)] - m[at(x.r0, x.g0, x.b0)];
        case axisGreen:
            return -m[at(x.r1, x.g0, x.b1)] + m[at(x.r1, x.g0, x.b0)] + m[at(x.r0, x.g0, x.b1)] - m[at(x.r0, x.g0, x.b0)];
        case axisBlue:
            return -m[at(x.r1, x.g1, x.b0)] + m[at(x.r1, x.g0, x.b0)] + m[at(x.r0, x.g1, x.b0)] - m[at(x.r0, x.g0, x.b0)];
        }
        return 0;
    }

    // The part that does, with the upper bound at `p`.
    static double top(const Box& x, Axis axis, int p, const std::vector<double>& m) {
        switch (axis) {
        case axisRed: return m[at(p, x.g1, x.b1)] - m[at(p, x.g1, x.b0)] - m[at(p, x.g0, x.b1)] + m[at(p, x.g0, x.b0)];
        case axisGreen: return m[at(x.r1, p, x.b1)] - m[at(x.r1, p, x.b0)] - m[at(x.r0, p, x.b1)] + m[at(x.r0, p, x.b0)];
        case axisBlue: return m[at(x.r1, x.g1, p)] - m[at(x.r1, x.g0, p)] - m[at(x.r0, x.g1, p)] + m[at(x.r0, x.g0, p)];
        }
        return 0;
    }

    double spread(const Box& x) const {
        const double r = volume(x, red), g = volume(x, green), b = volume(x, blue);
        return volume(x, squares) - (r * r + g * g + b * b) / volume(x, weight);
    }

    // The best place to cut `x` across `axis`, and how good it is.
    double best(const Box& x, Axis axis, int first, int last, int& where, const std::array<double, 4>& whole) const {
        const double baseR = bottom(x, axis, red), baseG = bottom(x, axis, green), baseB = bottom(x, axis, blue);
        const double baseW = bottom(x, axis, weight);
        double most = 0;
        where = -1;
        for (int i = first; i < last; ++i) {
            double r = baseR + top(x, axis, i, red), g = baseG + top(x, axis, i, green), b = baseB + top(x, axis, i, blue);
            double w = baseW + top(x, axis, i, weight);
            if (w <= 0) continue;
            double gain = (r * r + g * g + b * b) / w;
            r = whole[0] - r, g = whole[1] - g, b = whole[2] - b, w = whole[3] - w;
            if (w <= 0) continue;
            gain += (r * r + g * g + b * b) / w;
            if (gain > most) {
                most = gain;
                where = i;
            }
        }
        return most;
    }

    bool cut(Box& one, Box& two) const {
        const std::array<double, 4> whole{volume(one, red), volume(one, green), volume(one, blue), volume(one, weight)};
        int cutR = -1, cutG = -1, cutB = -1;
        const double byR = best(one, axisRed, one.r0 + 1, one.r1, cutR, whole);
        const double byG = best(one, axisGreen, one.g0 + 1, one.g1, cutG, whole);
        const double byB = best(one, axisBlue, one.b0 + 1, one.b1, cutB, whole);
        two = one;
        if (byR >= byG && byR >= byB) {
            if (cutR < 0) return false;
            two.r0 = one.r1 = cutR;
        } else if (byG >= byB) {
            if (cutG < 0) return false;
            two.g0 = one.g1 = cutG;
        } else {
            if (cutB < 0) return false;
            two.b0 = one.b1 = cutB;
        }
        return true;
    }
};

// The histogram's occupied cells as weighted points at their mean colour.
struct Points {
    std::vector<float> weight, red, green, blue;
};

Points pointsOf(const std::vector<std::uint32_t>& cells) {
    Points p;
    for (std::size_t cell = 0; cell < 64 * 64 * 64; ++cell) {
        const std::uint32_t* c = &cells[4 * cell];
        if (c[0] == 0) continue;
        const auto n = static_cast<float>(c[0]);
        p.weight.push_back(n);
        p.red.push_back(static_cast<float>(4 * (cell >> 12)) + static_cast<float>(c[1]) / n);
        p.green.push_back(static_cast<float>(4 * (cell >> 6 & 63)) + static_cast<float>(c[2]) / n);
        p.blue.push_back(static_cast<float>(4 * (cell & 63)) + static_cast<float>(c[3]) / n);
    }
    return p;
}

// For each point the nearest centre, and its squared distance. The centres
// are searched in order of red, outwards from the point's red, until the
// red difference alone exceeds the best distance so far.
void assign(const Points& p, const std::vector<float>& cr, const std::vector<float>& cg, const std::vector<float>& cb,
            std::vector<std::uint16_t>& nearest, std::vector<float>& distance) {
    const std::size_t k = cr.size();
    std::vector<std::uint16_t> order(k);
    for (std::size_t j = 0; j < k; ++j) order[j] = static_cast<std::uint16_t>(j);
    std::sort(order.begin(), order.end(), [&](std::uint16_t a, std::uint16_t b) { return cr[a] < cr[b]; });
    std::vector<float> sr(k), sg(k), sb(k);
    for (std::size_t j = 0; j < k; ++j) sr[j] = cr[order[j]], sg[j] = cg[order[j]], sb[j] = cb[order[j]];
    nearest.resize(p.weight.size());
    distance.resize(p.weight.size());
    const auto points = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            const float r = p.red[i], g = p.green[i], b = p.blue[i];
            float best = std::numeric_limits<float>::max();
            std::size_t at = 0;
            const auto consider = [&](std::size_t j) {
                const float dr = sr[j] - r;
                if (dr * dr >= best) return false;
                const float dg = sg[j] - g, db = sb[j] - b;
                const float d = dr * dr + dg * dg + db * db;
                if (d < best) best = d, at = j;
                return true;
            };
            const auto start = static_cast<std::size_t>(std::lower_bound(sr.begin(), sr.end(), r) - sr.begin());
            for (std::size_t j = start; j < k && consider(j); ++j) {}
            for (std::size_t j = start; j-- > 0 && consider(j);) {}
            nearest[i] = order[at];
            distance[i] = best;
        }
    };
    // Each point's answer depends on no other, so a second thread can take
    // half of them where one can be had and there are enough to pay for it.
    const std::size_t count = p.weight.size();
    if (count < threadedPoints) return points(0, count);
    try {
        const std::jthread upper(points, count / 2, count);
        points(0, count / 2);
    } catch (const std::system_error&) {
        points(0, count);
    }
}

// Refines Wu's colours by k-means over the histogram's cells; when Wu found
// fewer colours than allowed, the worst-served cells become colours too.
std::vector<Rgb> refine(const std::vector<std::uint32_t>& cells, std::vector<Rgb> start, std::size_t count) {
    const Points p = pointsOf(cells);
    if (p.weight.empty()) return start;
    std::vector<float> cr, cg, cb;
    for (const Rgb& c : start) {
        cr.push_back(c.red);
        cg.push_back(c.green);
        cb.push_back(c.blue);
    }
    std::vector<std::uint16_t> nearest;
    std::vector<float> distance;
    if (cr.size() < count) {
        assign(p, cr, cg, cb, nearest, distance);
        std::vector<std::size_t> order(p.weight.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        const std::size_t extra = std::min(count - cr.size(), order.size());
        std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(extra), order.end(),
                          [&](std::size_t a, std::size_t b) { return distance[a] * p.weight[a] > distance[b] * p.weight[b]; });
        for (std::size_t i = 0; i < extra && distance[order[i]] > 0; ++i) {
            cr.push_back(p.red[order[i]]);
            cg.push_back(p.green[order[i]]);
            cb.push_back(p.blue[order[i]]);
        }
    }
    constexpr int passes = 8;
    for (int pass = 0; pass < passes; ++pass) {
        assign(p, cr, cg, cb, nearest, distance);
        std::vector<double> w(cr.size()), sr(cr.size()), sg(cr.size()), sb(cr.size());
        for (std::size_t i = 0; i < p.weight.size(); ++i) {
            const std::size_t j = nearest[i];
            w[j] += p.weight[i];
            sr[j] += double{p.weight[i]} * p.red[i];
            sg[j] += double{p.weight[i]} * p.green[i];
            sb[j] += double{p.weight[i]} * p.blue[i];
        }
        for (std::size_t j = 0; j < cr.size(); ++j) {
            if (w[j] <= 0) continue;  // an unused centre stays where it is
            cr[j] = static_cast<float>(sr[j] / w[j]);
            cg[j] = static_cast<float>(sg[j] / w[j]);
            cb[j] = static_cast<float>(sb[j] / w[j]);
        }
    }
    std::vector<Rgb> result;
    for (std::size_t j = 0; j < cr.size(); ++j)
        result.push_back({WuCut::channel(cr[j]), WuCut::channel(cg[j]), WuCut::channel(cb[j])});
    return result;
}

void setEntry(Quantization& q, std::size_t i, Rgb c) {
    q.table[3 * i] = c.red;
    q.table[3 * i + 1] = c.green;
    q.table[3 * i + 2] = c.blue;
}

Rgb entry(const Quantization& q, std::size_t i) { return {q.table[3 * i], q.table[3 * i + 1], q.table[3 * i + 2]}; }

int distance2(Rgb a, int r, int g, int b) {
    const int dr = a.red - r, dg = a.green - g, db = a.blue - b;
    return dr * dr + dg * dg + db * db;
}

std::size_t cell4(int r, int g, int b) { return std::size_t(r >> 2) << 12 | std::size_t(g >> 2) << 6 | std::size_t(b >> 2); }

void prepareGrid(CandidateGrid& grid, int bits) {
    grid.bits = bits;
    grid.cells.assign(std::size_t{1} << 3 * bits, {});
}

void prepareNearest(Quantization& q) {
    NearestEntry& n = q.mapping.nearest;
    for (int i = 0; i < q.colourCount; ++i) {
        if (i == q.transparentIndex) continue;
        n.colours.push_back(entry(q, static_cast<std::size_t>(i)));
        n.indices.push_back(static_cast<std::uint8_t>(i));
    }
    // The fine grid's cell records fit a core's cache.
    prepareGrid(n.coarse, 3);
    prepareGrid(n.fine, 5);
    if (!q.dither) {
        n.single.assign(std::size_t{1} << 18, NearestEntry::unknown);
    } else {
        n.middle.assign(std::size_t{1} << 18, 0);
        n.state.assign(std::size_t{1} << 13, 0);
        for (const Rgb c : n.colours) {
            const std::size_t cell = cell4(c.red, c.green, c.blue);
            n.state[cell / 32] |= std::uint64_t{2} << 2 * (cell % 32);
        }
    }
}

std::size_t cellIndex(int bits, int r, int g, int b) {
    const int shift = 8 - bits;
    return std::size_t(r >> shift) << 2 * bits | std::size_t(g >> shift) << bits | std::size_t(b >> shift);
}

// Lists the entries of `from` that can be nearest to some colour in the
// cell: those whose nearest point of the cell is no farther than the
// farthest point of the cell is from the best single entry. Any entry that
// qualifies for a cell qualifies for every cell holding it, so a coarse
// cell's list is all a fine cell inside it needs to look at.
template <typename Positions>
void buildCell(CandidateGrid& grid, const std::vector<Rgb>& colours, const Positions& from, std::size_t cell) {
    const int width = 1 << (8 - grid.bits);
    const auto mask = (std::size_t{1} << grid.bits) - 1;
    const int lo[3] = {static_cast<int>(cell >> 2 * grid.bits) * width, static_cast<int>(cell >> grid.bits & mask) * width,
                       static_cast<int>(cell & mask) * width};
    const auto axisRange = [width](int v, int low, int& near, int& far) {
        const int d = v < low ? low - v : v > low + width - 1 ? v - low - width + 1 : 0;
        const int f = std::max(std::abs(v - low), std::abs(v - low - width + 1));
        near += d * d;
        far += f * f;
    };
    const std::size_t first = grid.entries.size();
    int bound = std::numeric_limits<int>::max();
    for (const std::uint32_t i : from) {
        const Rgb c = colours[i & 0xFF];
        int nearest = 0, farthest = 0;
        axisRange(c.red, lo[0], nearest, farthest);
        axisRange(c.green, lo[1], nearest, farthest);
        axisRange(c.blue, lo[2], nearest, farthest);
        grid.entries.push_back(static_cast<std::uint32_t>(nearest) << 8 | (i & 0xFF));
        bound = std::min(bound, farthest);
    }
    const auto begin = grid.entries.begin() + static_cast<std::ptrdiff_t>(first);
    grid.entries.erase(std::remove_if(begin, grid.entries.end(),
                                      [bound](std::uint32_t e) { return (e >> 8) > static_cast<std::uint32_t>(bound); }),
                       grid.entries.end());
    std::sort(begin, grid.entries.end());
    grid.cells[cell] = {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(grid.entries.size() - first)};
}

std::vector<std::uint32_t> cellEntries(const CandidateGrid& grid, std::size_t cell) {
    const CandidateGrid::Cell c = grid.cells[cell];
    return {grid.entries.begin() + c.start, grid.entries.begin() + c.start + c.count};
}

// The fine grid's candidates for (r, g, b).
CandidateGrid::Cell fineCell(NearestEntry& n, int r, int g, int b) {
    const std::size_t cell = cellIndex(n.fine.bits, r, g, b);
    CandidateGrid::Cell c = n.fine.cells[cell];
    if (c.start == ~0u) {
        const std::size_t outer = cellIndex(n.coarse.bits, r, g, b);
        if (n.coarse.cells[outer].start == ~0u) {
            std::vector<std::uint32_t> all(n.colours.size());
            for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint32_t>(i);
            buildCell(n.coarse, n.colours, all, outer);
        }
        buildCell(n.fine, n.colours, cellEntries(n.coarse, outer), cell);
        c = n.fine.cells[cell];
    }
    return c;
}

// The one entry nearest every colour of a 4-wide cell, or `shared`.
std::uint16_t singleEntry(NearestEntry& n, int r, int g, int b) {
    const CandidateGrid::Cell c = fineCell(n, r, g, b);
    const int lo[3] = {r & ~3, g & ~3, b & ~3};
    int bound = std::numeric_limits<int>::max();
    std::uint32_t only = 0;
    int within = 0;
    const auto span = [](int v, int low, bool farthest) {
        const int d = farthest ? std::max(std::abs(v - low), std::abs(v - low - 3)) : v < low ? low - v : v > low + 3 ? v - low - 3 : 0;
        return d * d;
    };
    const auto distanceToBox = [&](Rgb e, bool farthest) {
        return span(e.red, lo[0], farthest) + span(e.green, lo[1], farthest) + span(e.blue, lo[2], farthest);
    };
    for (std::size_t i = 0; i < c.count; ++i)
        bound = std::min(bound, distanceToBox(n.colours[n.fine.entries[c.start + i] & 0xFF], true));
    for (std::size_t i = 0; i < c.count && within < 2; ++i) {
        const std::uint32_t e = n.fine.entries[c.start + i] & 0xFF;
        if (distanceToBox(n.colours[e], false) <= bound) {
            ++within;
            only = e;
        }
    }
    return within == 1 ? n.indices[only] : NearestEntry::shared;
}

// The table index of the entry nearest (r, g, b); ties go to the lower index.
// The search itself; with `twice`, (r, g, b) are doubled coordinates, so
// the middle of a cell can be asked for exactly.
std::uint8_t searchFine(NearestEntry& n, int r, int g, int b, bool twice = false) {
    const int scale = twice ? 2 : 1;
    const CandidateGrid::Cell c = fineCell(n, r / scale, g / scale, b / scale);
    const std::uint32_t* entries = n.fine.entries.data() + c.start;
    const auto distance = [&](std::uint32_t e) {
        const Rgb colour = n.colours[e];
        const int dr = scale * colour.red - r, dg = scale * colour.green - g, db = scale * colour.blue - b;
        return static_cast<std::uint32_t>(dr * dr + dg * dg + db * db);
    };
    std::uint32_t best = entries[0] & 0xFF;
    std::uint32_t bestDistance = distance(best);
    const auto floorScale = static_cast<std::uint32_t>(scale * scale);
    for (std::size_t i = 1; i < c.count && (entries[i] >> 8) * floorScale <= bestDistance; ++i) {
        const std::uint32_t e = entries[i] & 0xFF;
        const std::uint32_t d = distance(e);
        if (d < bestDistance || (d == bestDistance && e < best)) {
            bestDistance = d;
            best = e;
        }
    }
    return n.indices[best];
}

std::uint8_t nearestIndex(NearestEntry& n, int r, int g, int b) {
    std::uint16_t& single = n.single[cell4(r, g, b)];
    if (single == NearestEntry::unknown) single = singleEntry(n, r, g, b);
    if (single != NearestEntry::shared) return static_cast<std::uint8_t>(single);
    return searchFine(n, r, g, b);
}

// The entry for a colour with diffused error.
std::uint8_t ditherIndex(NearestEntry& n, int r, int g, int b) {
    const std::size_t cell = cell4(r, g, b);
    std::uint64_t& word = n.state[cell / 32];
    const unsigned shift = 2 * (cell % 32);
    switch (word >> shift & 3) {
    case 1: return n.middle[cell];
    case 0:
        // The eight 4-wide cells of the 8-wide one at once, while its
        // candidates are at hand.
        for (int dr = 0; dr < 8; dr += 4)
            for (int dg = 0; dg < 8; dg += 4)
                for (int db = 0; db < 8; db += 4) {
                    const int cr = (r & ~7) + dr, cg = (g & ~7) + dg, cb = (b & ~7) + db;
                    const std::size_t sibling = cell4(cr, cg, cb);
                    std::uint64_t& bits = n.state[sibling / 32];
                    const unsigned at = 2 * (sibling % 32);
                    if ((bits >> at & 3) != 0) continue;
                    bits |= std::uint64_t{1} << at;
                    n.middle[sibling] = searchFine(n, 2 * cr + 3, 2 * cg + 3, 2 * cb + 3, true);
                }
        return n.middle[cell];
    default: return searchFine(n, r, g, b);
    }
}

template <int Bits>
void mapRow(const Quantization& q, MappingState& m, std::span<std::uint8_t> out) {
    const TrueColourRows& rows = q.rows;
    const std::uint8_t* row = rowFromTop(rows, m.nextRow);
    const auto transparent = static_cast<std::uint8_t>(std::max(q.transparentIndex, 0));
    if (q.exact || !q.dither) {
        std::uint32_t last = ~0u;
        std::uint8_t lastIndex = 0;
        for (std::size_t x = 0; x < rows.width; ++x) {
            const Rgb c = pixelAt<Bits>(row, x);
            if (transparentAt<Bits>(rows, row, x, c)) {
                out[x] = transparent;
                continue;
            }
            const std::uint32_t v = packed(c);
            if (v != last) {
                last = v;
                lastIndex = q.exact ? q.exactIndex[findSlot(q.exactKeys, v)] : nearestIndex(m.nearest, c.red, c.green, c.blue);
            }
            out[x] = lastIndex;
        }
        return;
    }
    // Floyd-Steinberg in serpentine order, errors in sixteenths: 7 to the
    // next pixel, 3, 5 and 1 to the three below. The next pixel's share and
    // the two still-open sums below travel in registers; one border pixel
    // on each side of the rows below takes what falls off the edges.
    const bool rightward = m.nextRow % 2 == 0;
    const std::int32_t* here = m.errorThis.data() + 3;
    std::int32_t* below = m.errorNext.data() + 3;
    const std::ptrdiff_t step = rightward ? 3 : -3;
    int ahead[3] = {0, 0, 0};    // for the next pixel in this row
    int behind[3] = {0, 0, 0};   // for the pixel below this one
    int diagonal[3] = {0, 0, 0}; // for the pixel below the next one
    std::ptrdiff_t at = rightward ? 0 : 3 * static_cast<std::ptrdiff_t>(rows.width - 1);
    for (std::size_t i = 0; i < rows.width; ++i, at += step) {
        const auto x = static_cast<std::size_t>(at / 3);
        const Rgb c = pixelAt<Bits>(row, x);
        int error[3] = {0, 0, 0};
        if (transparentAt<Bits>(rows, row, x, c)) {
            out[x] = transparent;
        } else {
            const int want[3] = {std::clamp(c.red + ((here[at] + ahead[0] + 8) >> 4), 0, 255),
                                 std::clamp(c.green + ((here[at + 1] + ahead[1] + 8) >> 4), 0, 255),
                                 std::clamp(c.blue + ((here[at + 2] + ahead[2] + 8) >> 4), 0, 255)};
            const std::uint8_t index = ditherIndex(m.nearest, want[0], want[1], want[2]);
            out[x] = index;
            const std::uint8_t* got = &q.table[3 * std::size_t{index}];
            for (std::size_t k = 0; k < 3; ++k) error[k] = want[k] - got[k];
        }
        for (std::size_t k = 0; k < 3; ++k) {
            below[at - step + static_cast<std::ptrdiff_t>(k)] = behind[k] + 3 * error[k];
            behind[k] = diagonal[k] + 5 * error[k];
            diagonal[k] = error[k];
            ahead[k] = 7 * error[k];
        }
    }
    for (std::size_t k = 0; k < 3; ++k) below[at - step + static_cast<std::ptrdiff_t>(k)] = behind[k];
    m.errorThis.swap(m.errorNext);
}

void mapRow(const Quantization& q, MappingState& m, std::span<std::uint8_t> out) {
    switch (q.rows.bitCount) {
    case 16: mapRow<16>(q, m, out); break;
    case 32: mapRow<32>(q, m, out); break;
    default: mapRow<24>(q, m, out); break;
    }
}

void clearErrors(MappingState& m) {
    std::fill(m.errorThis.begin(), m.errorThis.end(), 0);
    std::fill(m.errorNext.begin(), m.errorNext.end(), 0);
}

// Maps the lower band on a second thread into `lowerIndices`, with its own
// copy of the search state (which fills in as it is asked, so it cannot be
// shared). Where memory or a thread cannot be had, the caller's thread maps
// the band itself when it gets there, to the same indices.
void startLowerBand(Quantization& q) {
    try {
        q.lowerIndices.resize((q.rows.height - q.lowerBand) * q.rows.width);
        MappingState lower = q.mapping;
        lower.nextRow = q.lowerBand;
        clearErrors(lower);
        q.lowerWorker = std::jthread([&q, lower = std::move(lower)](std::stop_token stop) mutable {
            std::uint8_t* out = q.lowerIndices.data();
            try {
                for (; lower.nextRow < q.rows.height; ++lower.nextRow, out += q.rows.width) {
                    if (stop.stop_requested()) return;
                    mapRow(q, lower, std::span(out, q.rows.width));
                }
                q.lowerReady = true;
            } catch (const std::bad_alloc&) {  // the search state could not grow: left to the caller
            }
        });
    } catch (const std::exception&) {  // std::bad_alloc, std::system_error
        q.lowerIndices = {};
    }
}

void chooseExact(Quantization& q, Survey& s, bool transparentEntry) {
    std::sort(s.distinct.begin(), s.distinct.end());
    for (std::size_t i = 0; i < s.distinct.size(); ++i) {
        setEntry(q, i, unpacked(s.distinct[i]));
        const std::size_t slot = findSlot(q.exactKeys, s.distinct[i]);
        q.exactKeys[slot] = s.distinct[i] | 1u << 24;
        q.exactIndex[slot] = static_cast<std::uint8_t>(i);
    }
    q.colourCount = static_cast<int>(s.distinct.size());
    if (transparentEntry) q.transparentIndex = q.colourCount++;
    q.exact = true;
}

}  // namespace

void quantize(const TrueColourRows& rows, TableChoice choice, bool dither, Quantization& q) {
    // A lower band still being mapped reads what is about to be replaced.
    if (q.lowerWorker.joinable()) {
        q.lowerWorker.request_stop();
        q.lowerWorker.join();
    }
    q = Quantization{};
    q.rows = rows;
    q.dither = dither;
    Survey s;
    const bool adaptive = choice == TableChoice::adaptive;
    switch (rows.bitCount) {
    case 16: survey<16>(rows, adaptive, s); break;
    case 32: survey<32>(rows, adaptive, s); break;
    default: survey<24>(rows, adaptive, s); break;
    }
    const bool transparentEntry = rows.hasKey || s.transparentCount > 0;
    // Transparent pixels of an alpha channel show the mean of their colours
    // to readers that ignore transparency.
    Rgb transparentColour = rows.key;
    if (!rows.hasKey && s.transparentCount > 0) {
        const auto mean = [&](std::size_t k) {
            return static_cast<std::uint8_t>((s.transparentSum[k] + s.transparentCount / 2) / s.transparentCount);
        };
        transparentColour = {mean(0), mean(1), mean(2)};
    }
    const std::size_t room = transparentEntry ? 255 : 256;

    if (adaptive && s.few && s.distinct.size() <= room) {
        chooseExact(q, s, transparentEntry);
    } else if (adaptive) {
        std::vector<Rgb> colours;
        {
            const WuCut wu(s.cells);
            colours = wu.colours(room);
        }
        colours = refine(s.cells, std::move(colours), room);
        s.cells = {};
        std::sort(colours.begin(), colours.end(), [](Rgb a, Rgb b) { return packed(a) < packed(b); });
        for (std::size_t i = 0; i < colours.size(); ++i) setEntry(q, i, colours[i]);
        q.colourCount = static_cast<int>(colours.size());
        if (transparentEntry) q.transparentIndex = q.colourCount++;
    } else {
        for (std::size_t i = 0; i < 256; ++i)
            setEntry(q, i, {DefaultPalette[i].red, DefaultPalette[i].green, DefaultPalette[i].blue});
        q.colourCount = 256;
        if (transparentEntry) {
            // The fixed entry nearest the transparent colour gives its place up.
            int best = std::numeric_limits<int>::max();
            for (std::size_t i = 0; i < 256; ++i) {
                const int d = distance2(entry(q, i), transparentColour.red, transparentColour.green, transparentColour.blue);
                if (d < best) {
                    best = d;
                    q.transparentIndex = static_cast<int>(i);
                }
            }
        }
    }
    if (q.transparentIndex >= 0) setEntry(q, static_cast<std::size_t>(q.transparentIndex), transparentColour);
    if (!q.exact) prepareNearest(q);
    if (!q.exact && dither) {
        q.mapping.errorThis.assign(3 * (rows.width + 2), 0);
        q.mapping.errorNext.assign(3 * (rows.width + 2), 0);
    }
    // Mapping to a table that is not exact is most of a big picture's time;
    // below this size a second thread costs more than it saves.
    q.lowerBand = !q.exact && rows.height >= 2 && rows.width * rows.height >= lowerBandPixels ? rows.height / 2 : rows.height;
}

void mapNextRow(Quantization& q, std::span<std::uint8_t> indices) {
    MappingState& m = q.mapping;
    if (m.nextRow == 0 && q.lowerBand < q.rows.height && !q.lowerWorker.joinable() && !q.lowerReady) startLowerBand(q);
    // Rows past the seam are asked for only after it, so the second thread
    // has been joined before `lowerReady` is read.
    if (m.nextRow == q.lowerBand) {
        if (q.lowerWorker.joinable()) q.lowerWorker.join();
        if (!q.lowerReady) clearErrors(m);  // the band starts afresh, as the second thread would have
    }
    if (m.nextRow >= q.lowerBand && q.lowerReady) {
        const std::uint8_t* from = q.lowerIndices.data() + (m.nextRow - q.lowerBand) * q.rows.width;
        std::copy(from, from + q.rows.width, indices.begin());
    } else {
        mapRow(q, m, indices);
    }
    ++m.nextRow;
}

void restartMapping(Quantization& q) {
    // A second thread still mapping the lower band goes on: its indices do
    // not depend on this thread's state.
    q.mapping.nextRow = 0;
    clearErrors(q.mapping);
}

}  // namespace quolb
