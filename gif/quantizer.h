// Colour tables for pictures of 16, 24 or 32 bits per pixel, and the index
// of each of their pixels in that table.
//
// A picture of at most 256 colours (a transparent colour counting as one)
// keeps exactly its colours. Otherwise the table is chosen for the picture
// (a variance-minimising cut of the colour cube, refined by a few k-means
// passes) or is the fixed DefaultPalette; pixels take the nearest entry,
// with Floyd-Steinberg error diffusion in serpentine order unless told not
// to. Transparent pixels, and only they, take the transparent entry, and
// they neither take nor pass on diffused error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

namespace quolb {

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The rows of a 16-bit (5-5-5), 24-bit or 32-bit DIB, bottom row first.
struct TrueColourRows {
    const std::uint8_t* bottomRow = nullptr;
    std::size_t stride = 0;
    std::size_t width = 0;
    std::size_t height = 0;
    int bitCount = 24;
    bool alpha = false;   // 32 bits: byte 3 is the opacity; below 128 is transparent
    bool hasKey = false;  // pixels of exactly `key` are transparent
    Rgb key;
};

enum class TableChoice { adaptive, fixed };

// Cells of the colour cube, each listing (when first asked) the entries
// that can be nearest to some colour in it, closest to the cell first.
struct CandidateGrid {
    struct Cell {
        std::uint32_t start = ~0u;  // into `entries`; ~0: not built yet
        std::uint32_t count = 0;
    };
    int bits = 0;  // per axis: 2^bits cells across
    std::vector<Cell> cells;
    // Per candidate: its squared distance to the cell << 8 | its position
    // in NearestEntry::colours.
    std::vector<std::uint32_t> entries;
};

// The nearest entry of a table for any colour, excluding the transparent
// entry: a coarse grid narrows the table for a fine grid of 8-wide cells,
// so a look-up compares a few entries, not 256. Most 4-wide cells lie
// wholly nearest one entry; they remember it, so most look-ups are one read.
struct NearestEntry {
    std::vector<Rgb> colours;           // the searchable entries
    std::vector<std::uint8_t> indices;  // their indices in the table
    CandidateGrid coarse, fine;
    static constexpr std::uint16_t unknown = 0xFFFF, shared = 0xFFFE;
    std::vector<std::uint16_t> single;  // per 4-wide cell: a table index, unknown or shared
    // For error diffusion, which corrects any small miss on the next
    // pixels: per 4-wide cell the entry nearest its middle, once known.
    // Cells holding an entry's own colour are searched exactly instead, so
    // that colour keeps its entry.
    std::vector<std::uint8_t> middle;
    std::vector<std::uint64_t> state;  // two bits per cell: 0 unknown, 1 middle, 2 exact
};

// The running state of mapping a band of rows, top row first.
struct MappingState {
    NearestEntry nearest;
    std::vector<std::int32_t> errorThis, errorNext;  // 3 per pixel plus a border each side
    std::size_t nextRow = 0;                          // counted from the top
};

// A table for one picture and the running state that maps its rows.
//
// Big pictures are mapped in two bands of rows, each diffusing its own
// error from its top row: the lower band is mapped ahead on a second
// thread while the caller takes the upper one. The bands depend only on the
// picture's size, so the indices are the same whether or not a second
// thread could be had.
struct Quantization {
    std::array<std::uint8_t, 3 * 256> table{};  // red, green, blue
    int transparentIndex = -1;                   // -1: no pixel is transparent
    int colourCount = 0;                         // entries in use

    // Mapping state.
    TrueColourRows rows;
    bool exact = false;
    bool dither = false;
    std::array<std::uint32_t, 1024> exactKeys{};  // open addressing: colour | 1 << 24; 0 empty
    std::array<std::uint8_t, 1024> exactIndex{};
    MappingState mapping;
    std::size_t lowerBand = 0;                 // the lower band's top row; the height when one band
    std::vector<std::uint8_t> lowerIndices;    // the lower band's indices, once `lowerReady`
    bool lowerReady = false;                   // else this thread maps the lower band itself
    std::jthread lowerWorker;                  // last: stopped and joined before the rest goes
};

// Chooses the table from one pass over the pixels.
void quantize(const TrueColourRows& rows, TableChoice choice, bool dither, Quantization& out);

// Writes the indices of the next row, top row first; `indices` holds one
// byte per pixel of the row.
void mapNextRow(Quantization& q, std::span<std::uint8_t> indices);

// Starts mapping again from the top row, which then gets the same indices
// as the first time (a compressed save that falls back to the plain one
// sends the rows twice).
void restartMapping(Quantization& q);

}  // namespace quolb
