// The decoder of every stored format (kernels.h's decode_stored): the walk of
// kernels_loops.h with an opacity plane beside the pixels. Besides fill_span,
// each level supplies spans that turn n stored pixels of one kind into 565
// pixels `to` and opacities `alpha` (both always there):
//
//   bgra_span(tag, to, alpha, src, n, alpha_counts)
//   argb16_span(tag, to, alpha, src, n, alpha_bit)
//   grey_span(tag, to, alpha, src, n)
//   grey_alpha_span(tag, to, alpha, src, n)
//   index_span(tag, to, alpha, src, n, format) -> pixels done: n, or the
//                                                 position of the first bad index
//   run_span(tag, to, alpha, n, pixel, a)      to[i] = pixel, alpha[i] = a
//   packet_indices(tag, to, packet, length)    a run-length packet of indices
//                                                 expanded, in 16-byte blocks
//   groups_index_packets(tag)                  constexpr: true where the level
//                                                 has packet_indices and
//   gather_open_group(tag, indices, p)            (below), and
//   narrowed_map(tag, format, indices, n)         the format for these indices
//                                                 and perhaps more, its map
//                                                 ending sooner
//   looks_up_index_rows(tag)                   constexpr: true where the level has
//   index_rows(tag, job, format)                  whole rows of raw indices (below)
//   walks_index_packets(tag)                   constexpr: true where the level
//   index_run(tag, to, alpha, n, entry)           walks colour-mapped packets one
//   raw_packet_bodies(tag) (may)                  at a time (kernels_index_walk.h,
//                                                 which it includes), filling a
//                                                 run of one map entry its way;
//                                                 with groups too, long packets
//                                                 (packets_are_long, below)
//
// found, like the others, by argument-dependent lookup on the tag.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels_levels.h"
#include "kernels_loops.h"

namespace kernel_loops {

// 5-bit channels widened by repeating their top bits, packed: bits 14-10 red,
// 9-5 green, 4-0 blue. In 565 terms the red and blue fields keep their 5 bits
// and green's 6th bit is its top bit again.
inline pixel16 argb16_to_16(unsigned v)
{
    return static_cast<pixel16>((v << 1 & 0xFFC0u) | (v >> 4 & 0x0020u) | (v & 0x001Fu));
}

inline pixel16 grey_to_16(unsigned g)
{
    return rgb24_to_16(static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(g),
                       static_cast<std::uint8_t>(g));
}

inline unsigned read_le16(const std::uint8_t* p)
{
    return p[0] | static_cast<unsigned>(p[1]) << 8;
}

inline void bgra_span_portable(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                               std::size_t n, bool alpha_counts)
{
    for (std::size_t i = 0; i < n; ++i, src += 4) {
        to[i] = bgr_to_16(src);
        alpha[i] = alpha_counts ? src[3] : 255;
    }
}

inline void argb16_span_portable(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                                 std::size_t n, bool alpha_bit)
{
    for (std::size_t i = 0; i < n; ++i, src += 2) {
        const unsigned v = read_le16(src);
        to[i] = argb16_to_16(v);
        alpha[i] = !alpha_bit || (v & 0x8000u) ? 255 : 0;
    }
}

inline void grey_span_portable(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                               std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        to[i] = grey_to_16(src[i]);
        alpha[i] = 255;
    }
}

inline void grey_alpha_span_portable(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                                     std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i, src += 2) {
        to[i] = grey_to_16(src[0]);
        alpha[i] = src[1];
    }
}

// A plain loop rather than memset: compilers expand a memset of unknown length
// inline as `rep stos`, which costs dozens of cycles on the short runs of
// run-length data.
inline void run_span_portable(pixel16* to, std::uint8_t* alpha, std::size_t n, pixel16 pixel,
                              std::uint8_t a)
{
    for (std::size_t i = 0; i < n; ++i) {
        to[i] = pixel;
        alpha[i] = a;
    }
}

inline bool index_valid(const stored_format& f, unsigned index)
{
    return index - f.first < f.end - f.first; // unsigned: below first wraps high
}

// The map and its bounds in locals: as far as the compiler knows, a store of an
// opacity could change the format, which it would then read again every pixel.
inline std::size_t index_span_portable(pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
                                       std::size_t n, const stored_format& f)
{
    const std::uint32_t* const map = f.map;
    const unsigned first = f.first;
    const unsigned count = f.end - f.first;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned index = src[i];
        if (index - first >= count) // as index_valid
            return i;
        const std::uint32_t entry = map[index];
        to[i] = static_cast<pixel16>(entry);
        alpha[i] = static_cast<std::uint8_t>(entry >> 16);
    }
    return n;
}

// Stored pixels of kind K, known when compiled: the common packets' loop is
// built once per kind, with no choice to make per packet.
template <stored_kind K, typename Level>
std::size_t convert_as(Level level, const stored_format& f, pixel16* to, std::uint8_t* alpha,
                       const std::uint8_t* src, std::size_t n)
{
    if constexpr (K == stored_kind::bgra32)
        bgra_span(level, to, alpha, src, n, f.alpha_counts);
    else if constexpr (K == stored_kind::argb16)
        argb16_span(level, to, alpha, src, n, f.alpha_counts);
    else if constexpr (K == stored_kind::grey8)
        grey_span(level, to, alpha, src, n);
    else if constexpr (K == stored_kind::grey_alpha16)
        grey_alpha_span(level, to, alpha, src, n);
    else
        return index_span(level, to, alpha, src, n, f);
    return n;
}

// One stored pixel, for run packets: false for an index outside the map.
template <stored_kind K>
bool stored_pixel_as(const stored_format& f, const std::uint8_t* src, pixel16& p, std::uint8_t& a)
{
    if constexpr (K == stored_kind::bgra32)
        bgra_span_portable(&p, &a, src, 1, f.alpha_counts);
    else if constexpr (K == stored_kind::argb16)
        argb16_span_portable(&p, &a, src, 1, f.alpha_counts);
    else if constexpr (K == stored_kind::grey8)
        grey_span_portable(&p, &a, src, 1);
    else if constexpr (K == stored_kind::grey_alpha16)
        grey_alpha_span_portable(&p, &a, src, 1);
    else
        return index_span_portable(&p, &a, src, 1, f) == 1;
    return true;
}

inline bool stored_pixel(const stored_format& f, const std::uint8_t* src, pixel16& p,
                         std::uint8_t& a)
{
    switch (f.kind) {
    case stored_kind::bgra32: return stored_pixel_as<stored_kind::bgra32>(f, src, p, a);
    case stored_kind::argb16: return stored_pixel_as<stored_kind::argb16>(f, src, p, a);
    case stored_kind::grey8: return stored_pixel_as<stored_kind::grey8>(f, src, p, a);
    case stored_kind::grey_alpha16: return stored_pixel_as<stored_kind::grey_alpha16>(f, src, p, a);
    case stored_kind::index8: return stored_pixel_as<stored_kind::index8>(f, src, p, a);
    }
    return false;
}

template <typename Level>
std::size_t convert_stored(Level level, const stored_format& f, pixel16* to, std::uint8_t* alpha,
                           const std::uint8_t* src, std::size_t n)
{
    switch (f.kind) {
    case stored_kind::bgra32: return convert_as<stored_kind::bgra32>(level, f, to, alpha, src, n);
    case stored_kind::argb16: return convert_as<stored_kind::argb16>(level, f, to, alpha, src, n);
    case stored_kind::grey8: return convert_as<stored_kind::grey8>(level, f, to, alpha, src, n);
    case stored_kind::grey_alpha16:
        return convert_as<stored_kind::grey_alpha16>(level, f, to, alpha, src, n);
    case stored_kind::index8: return convert_as<stored_kind::index8>(level, f, to, alpha, src, n);
    }
    return 0;
}

// Without an opacity plane the spans write their opacities here and are cut to
// its size; mirrored rows are converted here first and then put in place
// backwards, so a span stopped at a bad index leaves the rest of its row alone.
// Builds with only the portable level (a Cortex-M among them) keep it to the
// 128 pixels of the largest packet, which put_packet_piece needs: it sits in
// the decoder's frame, below the colour map's table.
constexpr std::size_t scratch_pixels = VELMORA_X86_SIMD || VELMORA_NEON ? 256 : 128;
static_assert(scratch_pixels >= 128, "a run-length packet's opacities go to the scratch whole");

struct plane_sink {
    picture_planes planes;
    std::size_t row; // stored rows finished
    std::size_t col; // pixels put into the current stored row
    pixel16 scratch[scratch_pixels];
    std::uint8_t scratch_alpha[scratch_pixels];
};

inline void start_sink(plane_sink& sink, const picture_planes& planes)
{
    sink.planes = planes;
    if (planes.top_down && !planes.right_to_left) {
        sink.planes.w = planes.w * planes.h;
        sink.planes.h = 1;
    }
    sink.row = 0;
    sink.col = 0;
}

inline std::size_t sink_done(const plane_sink& sink)
{
    return sink.row * sink.planes.w + sink.col;
}

// The next span of the current stored row for up to n pixels: its length, and
// where its first pixel goes (the leftmost of the span in the sprite).
inline std::size_t span_length(const plane_sink& sink, std::size_t n)
{
    std::size_t k = std::min(n, sink.planes.w - sink.col);
    if (sink.planes.alpha == nullptr || sink.planes.right_to_left)
        k = std::min(k, scratch_pixels);
    return k;
}

inline std::size_t span_offset(const plane_sink& sink, std::size_t k)
{
    const picture_planes& p = sink.planes;
    const std::size_t y = p.top_down ? sink.row : p.h - 1 - sink.row;
    const std::size_t x = p.right_to_left ? p.w - sink.col - k : sink.col;
    return y * p.w + x;
}

inline void advance_sink(plane_sink& sink, std::size_t n)
{
    sink.col += n;
    if (sink.col == sink.planes.w) {
        sink.col = 0;
        ++sink.row;
    }
}

template <typename Level>
void put_stored_run(Level level, plane_sink& sink, pixel16 p, std::uint8_t a, std::size_t n)
{
    while (n > 0) {
        const std::size_t k = std::min(n, sink.planes.w - sink.col);
        const std::size_t at = span_offset(sink, k);
        if (sink.planes.alpha != nullptr)
            run_span(level, sink.planes.pixels + at, sink.planes.alpha + at, k, p, a);
        else
            fill_span(level, sink.planes.pixels + at, k, p);
        advance_sink(sink, k);
        n -= k;
    }
}

// Converts n stored pixels into place; returns how many were good (n, or the
// position of the first bad index, with every pixel before it put).
template <typename Level>
std::size_t put_stored(Level level, plane_sink& sink, const stored_format& f,
                       const std::uint8_t* src, std::size_t n)
{
    const std::size_t bytes = stored_bytes(f.kind);
    std::size_t done = 0;
    while (done < n) {
        const std::size_t k = span_length(sink, n - done);
        const std::uint8_t* from = src + bytes * done;
        std::size_t good = 0;
        if (sink.planes.right_to_left) {
            good = convert_stored(level, f, sink.scratch, sink.scratch_alpha, from, k);
            const std::size_t at = span_offset(sink, good);
            std::reverse_copy(sink.scratch, sink.scratch + good, sink.planes.pixels + at);
            if (sink.planes.alpha != nullptr)
                std::reverse_copy(sink.scratch_alpha, sink.scratch_alpha + good,
                                  sink.planes.alpha + at);
        } else {
            const std::size_t at = span_offset(sink, k);
            std::uint8_t* alpha =
                sink.planes.alpha != nullptr ? sink.planes.alpha + at : sink.scratch_alpha;
            good = convert_stored(level, f, sink.planes.pixels + at, alpha, from, k);
        }
        advance_sink(sink, good);
        done += good;
        if (good < k)
            break;
    }
    return done;
}

// ------------------------------------------------ whole rows of raw indices
//
// Raw colour-mapped rows stored bottom first lie one after the other in the
// data but not in the sprite, so the walk above converts them one row at a
// time, and each row pays the walk and the span's setup again (on 32-bit ARM
// with NEON about a third of the span's own work for a row of 256). A level
// with index_rows(tag, job, format) takes all the rows of a picture at once:
// it returns the indices done as index_span does (all of them, or the
// position of the first bad one, every pixel before it put and none after).

// Rows of indices one after the other from src; row r goes to to + r * step,
// its opacities to alpha + r * alpha_step (0: the scratch, again each row).
struct index_rows_job {
    pixel16* to;
    std::uint8_t* alpha;
    const std::uint8_t* src;
    std::size_t w, rows;
    std::ptrdiff_t step, alpha_step;
};

inline pixel16* row_pixels(const index_rows_job& job, std::size_t r)
{
    return job.to + static_cast<std::ptrdiff_t>(r) * job.step;
}

inline std::uint8_t* row_opacities(const index_rows_job& job, std::size_t r)
{
    return job.alpha + static_cast<std::ptrdiff_t>(r) * job.alpha_step;
}

template <typename Level>
constexpr bool looks_up_index_rows(Level)
{
    return false;
}

// The whole rows of n stored indices from the sink's row start on, by the
// level's index_rows where it has one; returns the pixels put (0: left to
// put_stored).
template <typename Level>
std::size_t put_index_rows(Level level, plane_sink& sink, const stored_format& f,
                           const std::uint8_t* src, std::size_t n)
{
    if constexpr (looks_up_index_rows(Level{})) {
        const picture_planes& p = sink.planes;
        if (f.kind != stored_kind::index8 || p.right_to_left || sink.col != 0 || p.w == 0 ||
            n / p.w < 2 || (p.alpha == nullptr && p.w > scratch_pixels))
            return 0;
        const std::ptrdiff_t step =
            p.top_down ? static_cast<std::ptrdiff_t>(p.w) : -static_cast<std::ptrdiff_t>(p.w);
        const std::size_t at = span_offset(sink, p.w);
        const index_rows_job job{p.pixels + at,
                                 p.alpha != nullptr ? p.alpha + at : sink.scratch_alpha,
                                 src,
                                 p.w,
                                 n / p.w,
                                 step,
                                 p.alpha != nullptr ? step : 0};
        const std::size_t done = index_rows(level, job, f);
        sink.row += done / p.w;
        sink.col = done % p.w;
        return done;
    } else {
        return 0;
    }
}

template <typename Level>
stored_status decode_stored_raw(Level level, plane_sink& sink, const stored_format& f,
                                const std::uint8_t* data, std::size_t size, std::size_t count)
{
    const std::size_t whole = std::min(count, size / stored_bytes(f.kind));
    // Stopped at a bad index, the rows leave put_stored to find it again at once.
    const std::size_t rows_done = put_index_rows(level, sink, f, data, whole);
    if (put_stored(level, sink, f, data + rows_done, whole - rows_done) < whole - rows_done)
        return stored_status::corrupt;
    return whole < count ? stored_status::truncated : stored_status::ok;
}

// Pixels [from, from + k) of one packet known to be whole in the data, all in
// one row, at `out` and `alpha` (null: no opacity plane). False for a bad index.
template <stored_kind K, typename Level>
bool put_packet_piece(Level level, const stored_format& f, const std::uint8_t* packet,
                      std::size_t from, std::size_t k, pixel16* out, std::uint8_t* alpha,
                      std::uint8_t* scratch_alpha)
{
    if (packet[0] & 0x80) {
        pixel16 pixel = 0;
        std::uint8_t a = 0;
        if (!stored_pixel_as<K>(f, packet + 1, pixel, a))
            return false;
        if (alpha != nullptr)
            run_span(level, out, alpha, k, pixel, a);
        else
            fill_span(level, out, k, pixel);
        return true;
    }
    // Packets hold at most 128 pixels: the scratch opacities take any.
    const std::uint8_t* from_byte = packet + 1 + stored_bytes(K) * from;
    std::uint8_t* const opacities = alpha != nullptr ? alpha : scratch_alpha;
    return convert_as<K>(level, f, out, opacities, from_byte, k) == k;
}

// Where the sink's current row continues, with `room` pixels left in it.
struct row_cursor {
    std::size_t at;
    std::size_t room;
};

inline void next_row(plane_sink& sink, row_cursor& c)
{
    sink.col = 0;
    c.room = sink.planes.w;
    if (++sink.row < sink.planes.h)
        c.at = span_offset(sink, sink.planes.w);
}

// One packet of `length` pixels, split at row ends, known to end within the
// picture. False for a bad index, with the sink and cursor as they were.
template <stored_kind K, typename Level>
bool put_common_packet(Level level, plane_sink& sink, row_cursor& c, const stored_format& f,
                       const std::uint8_t* packet, std::size_t length)
{
    const std::size_t row = sink.row;
    const std::size_t col = sink.col;
    const row_cursor was = c;
    for (std::size_t done = 0; done < length;) {
        const std::size_t k = std::min(c.room, length - done);
        std::uint8_t* const alpha =
            sink.planes.alpha != nullptr ? sink.planes.alpha + c.at : nullptr;
        if (!put_packet_piece<K>(level, f, packet, done, k, sink.planes.pixels + c.at, alpha,
                                 sink.scratch_alpha)) {
            sink.row = row;
            sink.col = col;
            c = was;
            return false;
        }
        done += k;
        c.at += k;
        c.room -= k;
        if (c.room == 0)
            next_row(sink, c);
    }
    return true;
}

// The common packets, as many as follow each other: whole in the data (at least
// one largest packet of bytes left, so none needs checking) and ending within
// the picture, rows left to right; packets across row ends are split here.
// Stops at the first packet that needs more care (it runs past the picture's
// end, or holds a bad index: then the careful path does that packet again,
// alike) or at the picture's end; returns the bytes used.
template <stored_kind K, typename Level>
std::size_t expand_common_packets(Level level, plane_sink& sink, const stored_format& f,
                                  const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t bytes = stored_bytes(K);
    constexpr std::size_t largest = 1 + 128 * bytes;
    const std::size_t w = sink.planes.w;
    const std::size_t h = sink.planes.h;
    if (size < largest || sink.planes.right_to_left || sink.row == h)
        return 0;
    // Copies: as far as the compiler knows, every store of an opacity could
    // change the format and the sink, which would reload them for each packet.
    const stored_format format = f;
    pixel16* const pixels = sink.planes.pixels;
    std::uint8_t* const alpha = sink.planes.alpha;
    const std::uint8_t* p = data;
    const std::uint8_t* const last_safe = data + (size - largest);
    row_cursor c{span_offset(sink, w - sink.col), w - sink.col};
    while (p <= last_safe) {
        const unsigned header = *p;
        const std::size_t length = (header & 0x7Fu) + 1;
        if (length <= c.room) {
            // Most packets lie within the row.
            if (!put_packet_piece<K>(level, format, p, 0, length, pixels + c.at,
                                     alpha != nullptr ? alpha + c.at : nullptr,
                                     sink.scratch_alpha))
                break;
            p += 1 + bytes * (header & 0x80 ? 1 : length);
            c.at += length;
            c.room -= length;
            if (c.room > 0)
                continue; // the picture can end only where a row does
            next_row(sink, c);
        } else if (length - c.room > (h - sink.row - 1) * w ||
                   !put_common_packet<K>(level, sink, c, format, p, length)) {
            break;
        } else {
            p += 1 + bytes * (header & 0x80 ? 1 : length);
        }
        if (sink.row == h)
            break;
    }
    sink.col = w - c.room;
    return static_cast<std::size_t>(p - data);
}

// ------------------------------------------------ colour-mapped run-length data
//
// A dithered picture in a whole palette is packets of one to three pixels, and
// per packet the walk above spends a header, a choice of span and a branch the
// processor cannot guess (run or raw, and how long). Here a group of packets is
// first expanded into the indices it stands for, every packet by the same few
// stores whatever its kind and length, and the group is then looked up as raw
// spans, one a row piece: a bad index stops the lookup exactly where a packet
// at a time would have stopped.

// Only the x86 levels take groups. On an out-of-order x86 core the stores that
// replace the per-packet branches win; counted on ARM they cost more
// instructions than they save (32-bit ARM with NEON, a 256-entry map: 8.9
// instructions a pixel a packet at a time, 15.1 in groups), and the cores that
// draw 16-bit sprites there mostly run in order, where a branch costs little.
template <typename Level>
constexpr bool groups_index_packets(Level)
{
    return false;
}

// The NEON level walks colour-mapped packets one at a time in a loop of its
// own (kernels_neon_formats.cpp says why).
template <typename Level>
constexpr bool walks_index_packets(Level)
{
    return false;
}

// Indices a group expands to, in the sink's pixel scratch (the common packets
// never mirror, so it is free): a packet's last store may run 15 bytes past its
// end, and the opacities of a picture without a plane go to scratch_alpha.
constexpr std::size_t group_indices = scratch_pixels;
static_assert(group_indices + 15 <= sizeof(plane_sink::scratch), "room for the last store");

// Far from the ends of the picture and of the data, a group takes packets
// without asking whether each fits: any packet begun under open_group indices
// ends within the scratch, its last 16-byte store included, and within the
// picture; and, as each packet holds at most two bytes a pixel, begins within
// 2 * open_group bytes of the group's start.
constexpr std::size_t open_group = sizeof(plane_sink::scratch) - 128;
static_assert(open_group >= group_indices, "an open group is the larger");

// A packet's indices at `to`, whole 16-byte blocks: a run's index repeated, or
// a raw packet's copied with the bytes after it (overwritten by what follows),
// the same stores for both kinds, as runs and raw packets come in no order.
// The packet's own 129 bytes must be readable. Each level that groups supplies
// it as packet_indices(tag, to, packet, length).

inline void skip_pixels(plane_sink& sink, row_cursor& c, std::size_t n)
{
    while (n > 0) {
        const std::size_t k = std::min(n, c.room);
        c.at += k;
        c.room -= k;
        n -= k;
        if (c.room == 0)
            next_row(sink, c);
    }
}

// The n indices of a group looked up into place from the cursor on, split at
// row ends; returns how many were good (n, or the position of the first bad
// one, every pixel before it put).
template <typename Level>
std::size_t put_index_group(Level level, plane_sink& sink, row_cursor& c, const stored_format& f,
                            const std::uint8_t* indices, std::size_t n)
{
    pixel16* const pixels = sink.planes.pixels;
    std::uint8_t* const alpha = sink.planes.alpha;
    // Without a plane the opacities go to the scratch, which holds fewer than
    // an open group.
    const std::size_t most = alpha != nullptr ? n : scratch_pixels;
    std::size_t done = 0;
    while (done < n) {
        const std::size_t k = std::min({c.room, n - done, most});
        std::uint8_t* const opacities = alpha != nullptr ? alpha + c.at : sink.scratch_alpha;
        const std::size_t good =
            convert_as<stored_kind::index8>(level, f, pixels + c.at, opacities, indices + done, k);
        done += good;
        if (good < k)
            break;
        c.at += k;
        c.room -= k;
        if (c.room == 0)
            next_row(sink, c);
    }
    return done;
}

inline std::size_t packet_bytes(unsigned header)
{
    return header & 0x80 ? 2 : (header & 0x7Fu) + 2;
}

// Runs this long (headers from this one up) are filled as they stand: a fill
// of a few stores does them for less than a lookup a pixel.
constexpr unsigned long_run_header = 0x80 | (32 - 1);

// The packets from p on expanded into `indices`, as long as they fit in
// `limit` pixels and up to a long run, each known to be whole in the data
// (p <= last_safe); returns the indices put, p past the last packet taken.
template <typename Level>
std::size_t gather_group(Level level, std::uint8_t* indices, const std::uint8_t*& p,
                         const std::uint8_t* last_safe, std::size_t limit)
{
    std::size_t n = 0;
    while (p <= last_safe) {
        const unsigned header = *p;
        const std::size_t length = (header & 0x7Fu) + 1;
        if (n + length > limit || header >= long_run_header)
            break;
        packet_indices(level, indices + n, p, length);
        n += length;
        p += header < 0x80 ? header + 2 : 2;
    }
    return n;
}

// Where the packet at q ends. The walk waits for this on every packet, and
// runs and raw packets come in no order, so it must not be a branch. GCC 12
// made a branch of every form of the choice tried in C++ (a mask, a choice of
// two pointers, an unpredictable hint), so on x86 it is written as the one
// conditional move, both ends ready before it.
inline const std::uint8_t* packet_end(const std::uint8_t* q, unsigned header)
{
#if defined(__x86_64__)
    // An add, not the three-part address GCC folds it into, which takes a
    // cycle more on AMD's cores.
    const std::uint8_t* const run_end = q + 2;
    const std::uint8_t* end = run_end;
    asm("add %[header], %[end]\n\t"
        "cmpl $0x80, %k[header]\n\t"
        "cmovae %[run_end], %[end]"
        : [end] "+&r"(end)
        : [header] "r"(std::uintptr_t{header}), [run_end] "r"(run_end)
        : "cc");
    return end;
#else
    return q + packet_bytes(header);
#endif
}

// As gather_group, in an open group: at least open_group + 127 pixels left in
// the picture and p at least 2 * open_group bytes before last_safe. Each level
// that groups calls it from a function of its own, as
//
//   gather_open_group(tag, indices, p)
//
// out of line: in the decoder's frame the walk kept its pointer on the stack
// and chose each packet's end by a branch, which runs and raw packets, coming
// in no order, mispredict.
template <typename Level>
std::size_t gather_open_group_with(Level level, std::uint8_t* indices, const std::uint8_t*& p)
{
    const std::uint8_t* q = p; // the stores of indices could alias p
    std::size_t n = 0;
    do {
        const unsigned header = *q;
        if (__builtin_expect((header & 0x70) == 0, 1)) {
            packet_indices(level, indices + n, q, 16); // one block: 16 pixels or fewer
        } else {
            if (header >= long_run_header)
                break;
            packet_indices(level, indices + n, q, (header & 0x7Fu) + 1);
        }
        n += (header & 0x7Fu) + 1;
        q = packet_end(q, header);
    } while (n < open_group);
    p = q;
    return n;
}

// The packet of a group (from `group` on) that holds its pixel `at`, and in
// `before` the group's pixels ahead of that packet.
inline const std::uint8_t* packet_holding(const std::uint8_t* group, std::size_t at,
                                          std::size_t& before)
{
    before = 0;
    for (; before + (*group & 0x7Fu) + 1 <= at; group += packet_bytes(*group))
        before += (*group & 0x7Fu) + 1;
    return group;
}

// The common packets of colour-mapped data, as expand_common_packets takes
// them (and leaves them: at a bad index the sink stands at the start of its
// packet, for the careful path to do again).
template <typename Level>
std::size_t expand_index_groups(Level level, plane_sink& sink, const stored_format& f,
                                const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t largest = 1 + 128;
    const std::size_t w = sink.planes.w;
    const std::size_t count = w * sink.planes.h;
    if (size < largest || sink.planes.right_to_left || sink.row == sink.planes.h)
        return 0;
    const stored_format format = f; // see expand_common_packets
    std::uint8_t* const indices = reinterpret_cast<std::uint8_t*>(sink.scratch);
    const std::uint8_t* p = data;
    const std::uint8_t* const last_safe = data + (size - largest);
    std::size_t done = sink_done(sink);
    row_cursor c{span_offset(sink, w - sink.col), w - sink.col};
    // The map as the level narrows it (narrowed_map) by the first group's
    // indices, for every group after it: an index of a later group past it
    // stops that group as a bad one would, and the walk is begun again there,
    // narrowed anew. Narrowed a group at a time, pixel art's groups took
    // lookups of different sizes by turns, which mispredicted more branches
    // than the smaller lookups saved.
    stored_format lookup = format;
    bool narrowed = false;
    while (p <= last_safe && done < count) {
        const std::uint8_t* const group = p;
        const std::size_t n =
            count - done >= open_group + 127 && last_safe - p >= 2 * std::ptrdiff_t{open_group}
                ? gather_open_group(level, indices, p)
                : gather_group(level, indices, p, last_safe, std::min(group_indices, count - done));
        if (!narrowed && n > 0) {
            lookup = narrowed_map(level, format, indices, n);
            narrowed = true;
        }
        const std::size_t row = sink.row;
        const row_cursor was = c;
        const std::size_t good = put_index_group(level, sink, c, lookup, indices, n);
        if (good < n) {
            sink.row = row;
            c = was;
            std::size_t before = 0;
            p = packet_holding(group, good, before);
            skip_pixels(sink, c, before);
            break;
        }
        done += n;
        if (p > last_safe || *p < long_run_header) {
            if (n == 0)
                break; // the next packet runs past the picture's end
            continue;
        }
        // A long run: filled where it fits in the picture.
        const std::size_t length = (*p & 0x7Fu) + 1;
        if (length > count - done ||
            !put_common_packet<stored_kind::index8>(level, sink, c, format, p, length))
            break;
        done += length;
        p += 2;
    }
    sink.col = w - c.room;
    return static_cast<std::size_t>(p - data);
}

// ------------------------------------------------ colour-mapped packets one at a time
//
// The walk is in kernels_index_walk.h; these are its helpers that the levels'
// own runs share, and the choice of a level that has both walks.

// Whether the colour-mapped packets from data on hold six pixels or more on
// average, judged by up to their first 64: pixel art's runs and raw packets
// (7.9 pixels a packet at their head, 10.7 over the picture), not a dithered
// picture's (2.6 to 2.7 at their head). A level whose grouped lookups cost a
// load a pixel (SSE2) walks the long ones, filling each run once.
inline bool packets_are_long(const std::uint8_t* data, std::size_t size)
{
    std::size_t packets = 0;
    std::size_t pixels = 0;
    for (std::size_t at = 0; at < size && packets < 64; ++packets) {
        pixels += (data[at] & 0x7Fu) + 1;
        at += packet_bytes(data[at]);
    }
    return pixels >= 6 * packets;
}

// Runs of one to three pixels by three stores: 0, n / 2 and n - 1 cover them.
inline void short_run_of_three(pixel16* to, std::uint8_t* alpha, std::size_t n,
                               std::uint32_t entry)
{
    const auto pixel = static_cast<pixel16>(entry);
    const auto a = static_cast<std::uint8_t>(entry >> 16);
    to[0] = pixel;
    to[n / 2] = pixel;
    to[n - 1] = pixel;
    alpha[0] = a;
    alpha[n / 2] = a;
    alpha[n - 1] = a;
}

// Whether a stored index lies outside the map, told by the index or by the
// entry it found there. 32-bit ARM tests the entry's outside_map bit, which
// keeps the map's bounds out of its few core registers: pixel art
// run-length from 5.76 to 5.46 instructions a pixel. aarch64 tests the index:
// the entry's bit counted 5.13 there, the index 4.90.
__attribute__((always_inline)) inline bool outside([[maybe_unused]] std::uint32_t entry,
                                                   [[maybe_unused]] unsigned index,
                                                   [[maybe_unused]] unsigned first,
                                                   [[maybe_unused]] unsigned count)
{
#if defined(__aarch64__)
    return index - first >= count; // as index_valid
#else
    return (entry & outside_map) != 0;
#endif
}

template <typename Level>
std::size_t expand_common_packets(Level level, plane_sink& sink, const stored_format& f,
                                  const std::uint8_t* data, std::size_t size)
{
    switch (f.kind) {
    case stored_kind::bgra32:
        return expand_common_packets<stored_kind::bgra32>(level, sink, f, data, size);
    case stored_kind::argb16:
        return expand_common_packets<stored_kind::argb16>(level, sink, f, data, size);
    case stored_kind::grey8:
        return expand_common_packets<stored_kind::grey8>(level, sink, f, data, size);
    case stored_kind::grey_alpha16:
        return expand_common_packets<stored_kind::grey_alpha16>(level, sink, f, data, size);
    case stored_kind::index8:
        if constexpr (groups_index_packets(Level{}) && walks_index_packets(Level{}))
            // The walk takes pictures with an opacity plane, left to right
            // (index_packets); the groups take the others whatever their packets.
            return sink.planes.alpha != nullptr && !sink.planes.right_to_left &&
                           packets_are_long(data, size)
                       ? index_packets(level, sink, f, data, size)
                       : expand_index_groups(level, sink, f, data, size);
        else if constexpr (groups_index_packets(Level{}))
            return expand_index_groups(level, sink, f, data, size);
        else if constexpr (walks_index_packets(Level{}))
            return index_packets(level, sink, f, data, size);
        else
            return expand_common_packets<stored_kind::index8>(level, sink, f, data, size);
    }
    return 0;
}

template <typename Level>
stored_status decode_stored_rle(Level level, plane_sink& sink, const stored_format& f,
                                const std::uint8_t* data, std::size_t size, std::size_t count)
{
    const std::size_t bytes = stored_bytes(f.kind);
    std::size_t pos = 0;
    for (std::size_t n = sink_done(sink); n < count; n = sink_done(sink)) {
        const std::size_t used = expand_common_packets(level, sink, f, data + pos, size - pos);
        if (used > 0) {
            pos += used;
            continue;
        }
        // Any packet: checked against the data's end, cut at the picture's end,
        // split at row ends, mirrored.
        if (pos == size)
            return stored_status::truncated;
        const std::uint8_t header = data[pos++];
        const std::size_t length = std::min<std::size_t>((header & 0x7Fu) + 1, count - n);
        if (header & 0x80) {
            if (size - pos < bytes)
                return stored_status::truncated;
            pixel16 p = 0;
            std::uint8_t a = 0;
            if (!stored_pixel(f, data + pos, p, a))
                return stored_status::corrupt;
            put_stored_run(level, sink, p, a, length);
            pos += bytes;
        } else {
            const std::size_t whole = std::min(length, (size - pos) / bytes);
            if (put_stored(level, sink, f, data + pos, whole) < whole)
                return stored_status::corrupt;
            if (whole < length)
                return stored_status::truncated;
            pos += bytes * whole;
        }
    }
    return stored_status::ok;
}

template <typename Level>
stored_status decode_stored_with(Level level, const stored_format& f, const std::uint8_t* data,
                                 std::size_t size, bool run_length, const picture_planes& planes)
{
    plane_sink sink;
    start_sink(sink, planes);
    const std::size_t count = planes.w * planes.h;
    if (run_length)
        return decode_stored_rle(level, sink, f, data, size, count);
    return decode_stored_raw(level, sink, f, data, size, count);
}

// Raw data alone, for a level that takes some raw pictures its own way and
// need not build the run-length walk a second time for them.
template <typename Level>
stored_status decode_raw_stored_with(Level level, const stored_format& f, const std::uint8_t* data,
                                     std::size_t size, const picture_planes& planes)
{
    plane_sink sink;
    start_sink(sink, planes);
    return decode_stored_raw(level, sink, f, data, size, planes.w * planes.h);
}

} // namespace kernel_loops
