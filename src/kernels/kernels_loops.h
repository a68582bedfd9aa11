// What the kernels of every level share: the pixel-at-a-time spans that the
// SIMD spans fall back on for short tails and overlaps, and the loops around
// the spans (rows of a fill or a blend, the raw and run-length decoders).
//
// The loops are templates over a level tag, an empty struct that each kernel
// file defines for its levels together with that level's spans:
//
//   fill_span(tag, to, n, value)          to[i] = value, i < n
//   convert_bgr_span(tag, to, bgr, n)     to[i] = rgb24_to_16(bgr[3i + 2], bgr[3i + 1], bgr[3i])
//   blend_span(tag, to, from, n, weight)  to[i] = blend_pixel(from[i], to[i], weight), in order
//   blit_key_span(tag, to, from, n, key)  to[i] = from[i] wherever from[i] != key, in order
//   blit_a8_span(tag, to, from, alpha, n) to[i] = blend_pixel(from[i], to[i], 255 - alpha[i]),
//                                         in order
//
// found by argument-dependent lookup on the tag (kernels_format_loops.h adds
// the spans of the decoder of every stored format). A kernel file instantiates the
// loops inside a function compiled for its instruction set (flattened, on
// x86-64), so the spans inline into the loops.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include <velmora/draw.h>
#include "kernels.h"

namespace kernel_loops {

inline bool ranges_overlap_ahead(const pixel16* to, const pixel16* from, std::size_t n)
{
    // As integers: the two ranges may lie in unrelated arrays.
    const auto t = reinterpret_cast<std::uintptr_t>(to);
    const auto f = reinterpret_cast<std::uintptr_t>(from);
    return f < t && t - f < n * sizeof(pixel16);
}

// ---------------------------------------------------------------- pixel at a time

inline void fill_span_portable(pixel16* to, std::size_t n, pixel16 value)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = value;
}

inline pixel16 bgr_to_16(const std::uint8_t* bgr)
{
    return rgb24_to_16(bgr[2], bgr[1], bgr[0]);
}

inline void convert_bgr_portable(pixel16* to, const std::uint8_t* bgr, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i, bgr += 3)
        to[i] = bgr_to_16(bgr);
}

// On the 5- and 6-bit fields: c = ((255 - weight) * s + weight * d) / 255
inline pixel16 blend_pixel(pixel16 s, pixel16 d, unsigned weight)
{
    const unsigned keep = weight;
    const unsigned take = 255 - weight;
    const unsigned r = (take * (s >> 11) + keep * (d >> 11)) / 255;
    const unsigned g = (take * (s >> 5 & 0x3F) + keep * (d >> 5 & 0x3F)) / 255;
    const unsigned b = (take * (s & 0x1F) + keep * (d & 0x1F)) / 255;
    return static_cast<pixel16>(r << 11 | g << 5 | b);
}

inline void blend_span_portable(pixel16* to, const pixel16* from, std::size_t n, unsigned weight)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = blend_pixel(from[i], to[i], weight);
}

// ---------------------------------------------------------------- rows

template <typename Level>
void fill_rows_with(Level level, pixel16* first, std::size_t w, std::size_t h,
                    std::size_t stride, pixel16 value)
{
    for (std::size_t j = 0; j < h; ++j)
        fill_span(level, first + j * stride, w, value);
}

// Where `to` runs ahead of `from` within reach, the plain loop reads pixels it
// has just written: only the pixel-by-pixel loop gives that result.
template <typename Level>
void blend_rows_with(Level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                     std::size_t from_stride, std::size_t w, std::size_t h, unsigned weight)
{
    for (std::size_t j = 0; j < h; ++j) {
        pixel16* t = to + j * to_stride;
        const pixel16* f = from + j * from_stride;
        if (ranges_overlap_ahead(t, f, w))
            blend_span_portable(t, f, w, weight);
        else
            blend_span(level, t, f, w, weight);
    }
}

// ---------------------------------------------------------------- transparent blits

inline void blit_key_span_portable(pixel16* to, const pixel16* from, std::size_t n, pixel16 key)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (from[i] != key)
            to[i] = from[i];
    }
}

// blend_pixel at weight 255 - a, the destination's share: a = 255 gives the
// source pixel back exactly and a = 0 the destination, so both skip the blend.
inline void blit_a8_span_portable(pixel16* to, const pixel16* from, const std::uint8_t* alpha,
                                  std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned a = alpha[i];
        if (a == 255)
            to[i] = from[i];
        else if (a != 0)
            to[i] = blend_pixel(from[i], to[i], 255 - a);
    }
}

// Overlaps ahead within reach take the pixel-by-pixel spans, as in blend_rows_with.
template <typename Level>
void blit_key_rows_with(Level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                        std::size_t from_stride, std::size_t w, std::size_t h, pixel16 key)
{
    for (std::size_t j = 0; j < h; ++j) {
        pixel16* t = to + j * to_stride;
        const pixel16* f = from + j * from_stride;
        if (ranges_overlap_ahead(t, f, w))
            blit_key_span_portable(t, f, w, key);
        else
            blit_key_span(level, t, f, w, key);
    }
}

template <typename Level>
void blit_a8_rows_with(Level level, pixel16* to, std::size_t to_stride, const pixel16* from,
                       std::size_t from_stride, const std::uint8_t* alpha,
                       std::size_t alpha_stride, std::size_t w, std::size_t h)
{
    for (std::size_t j = 0; j < h; ++j) {
        pixel16* t = to + j * to_stride;
        const pixel16* f = from + j * from_stride;
        const std::uint8_t* a = alpha + j * alpha_stride;
        if (ranges_overlap_ahead(t, f, w))
            blit_a8_span_portable(t, f, a, w);
        else
            blit_a8_span(level, t, f, a, w);
    }
}

// ---------------------------------------------------------------- byte-swapped copy

// From the value, not its bytes: the same output on either byte order.
inline void copy_be_span_portable(std::uint8_t* out, const pixel16* from, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        const pixel16 p = from[i];
        out[2 * i] = static_cast<std::uint8_t>(p >> 8);
        out[2 * i + 1] = static_cast<std::uint8_t>(p);
    }
}

// Rows as wide as the stride follow each other in memory: one span.
template <typename Level>
void copy_be_rows_with(Level level, std::uint8_t* out, const pixel16* from,
                       std::size_t from_stride, std::size_t w, std::size_t h)
{
    if (w == from_stride) {
        copy_be_span(level, out, from, w * h);
        return;
    }
    for (std::size_t j = 0; j < h; ++j)
        copy_be_span(level, out + 2 * w * j, from + j * from_stride, w);
}

// ---------------------------------------------------------------- decoding

constexpr std::size_t pixel_bytes = 3;
constexpr std::size_t largest_packet = 1 + 128 * pixel_bytes;

// Stored pixels go to the sprite in spans that never cross a row end, so each
// span is one stretch of memory. A picture stored top row first, left to right,
// fills memory in order: as one row of w * h pixels it takes any packet whole.
struct pixel_sink {
    picture_rows rows;
    std::size_t row; // stored rows finished
    std::size_t col; // pixels put into the current stored row
};

inline pixel_sink make_sink(const picture_rows& rows)
{
    if (rows.top_down && !rows.right_to_left)
        return {{rows.pixels, rows.w * rows.h, 1, true, false}, 0, 0};
    return {rows, 0, 0};
}

inline std::size_t room_in_row(const pixel_sink& sink)
{
    return sink.rows.w - sink.col;
}

// The next n pixels of the current stored row (n <= room_in_row), in the sprite.
inline pixel16* next_span(const pixel_sink& sink, std::size_t n)
{
    const picture_rows& r = sink.rows;
    const std::size_t y = r.top_down ? sink.row : r.h - 1 - sink.row;
    const std::size_t x = r.right_to_left ? r.w - sink.col - n : sink.col;
    return r.pixels + y * r.w + x;
}

inline void advance(pixel_sink& sink, std::size_t n)
{
    sink.col += n;
    if (sink.col == sink.rows.w) {
        sink.col = 0;
        ++sink.row;
    }
}

template <typename Level>
void put_run(Level level, pixel_sink& sink, pixel16 p, std::size_t n)
{
    while (n > 0) {
        const std::size_t k = std::min(n, room_in_row(sink));
        fill_span(level, next_span(sink, k), k, p);
        advance(sink, k);
        n -= k;
    }
}

// A mirrored row gets each span converted in place, then turned around.
template <typename Level>
void put_pixels(Level level, pixel_sink& sink, const std::uint8_t* bgr, std::size_t n)
{
    while (n > 0) {
        const std::size_t k = std::min(n, room_in_row(sink));
        pixel16* span = next_span(sink, k);
        convert_bgr_span(level, span, bgr, k);
        if (sink.rows.right_to_left)
            std::reverse(span, span + k);
        advance(sink, k);
        bgr += pixel_bytes * k;
        n -= k;
    }
}

template <typename Level>
void expand_raw_with(Level level, const std::uint8_t* bgr, const picture_rows& rows)
{
    pixel_sink sink = make_sink(rows);
    put_pixels(level, sink, bgr, sink.rows.w * sink.rows.h);
}

// Pixels [first, first + k) of the packet at `packet`, at `to`.
template <typename Level>
void put_packet_part(Level level, pixel16* to, const std::uint8_t* packet, std::size_t first,
                     std::size_t k)
{
    if (packet[0] & 0x80)
        fill_span(level, to, k, bgr_to_16(packet + 1));
    else
        convert_bgr_span(level, to, packet + 1 + pixel_bytes * first, k);
}

// The common packets, as many as follow each other: whole in the data (at least
// one largest packet of bytes left, so no packet needs checking) and reaching
// at most into the next row of the picture, left to right. Stops at the first
// packet that needs more care, or at the picture's end; returns the bytes used.
template <typename Level>
std::size_t expand_plain_packets(Level level, const std::uint8_t* data, std::size_t size,
                                 pixel_sink& sink)
{
    const std::size_t w = sink.rows.w;
    const std::size_t h = sink.rows.h;
    if (size < largest_packet || sink.rows.right_to_left || sink.row == h)
        return 0;
    const std::uint8_t* p = data;
    const std::uint8_t* const last_safe = data + (size - largest_packet);
    std::size_t room = w - sink.col;
    pixel16* out = next_span(sink, room);
    while (p <= last_safe) {
        const unsigned header = *p;
        const std::size_t length = (header & 0x7Fu) + 1;
        const std::size_t bytes = header & 0x80 ? 1 + pixel_bytes : 1 + pixel_bytes * length;
        if (length < room) {
            put_packet_part(level, out, p, 0, length);
            out += length;
            room -= length;
        } else {
            const std::size_t rest = length - room;
            if (rest > w || (rest > 0 && sink.row + 1 == h))
                break; // spans rows, or is cut at the picture's end
            put_packet_part(level, out, p, 0, room);
            sink.col = 0;
            if (++sink.row == h) {
                room = w;
                p += bytes;
                break;
            }
            out = next_span(sink, w);
            put_packet_part(level, out, p, room, rest);
            out += rest;
            room = w - rest;
        }
        p += bytes;
    }
    sink.col = w - room;
    return static_cast<std::size_t>(p - data);
}

template <typename Level>
bool expand_rle_with(Level level, const std::uint8_t* data, std::size_t size,
                     const picture_rows& rows)
{
    pixel_sink sink = make_sink(rows);
    const std::size_t count = rows.w * rows.h;
    std::size_t pos = 0;
    while (sink.row * sink.rows.w + sink.col < count) {
        const std::size_t used = expand_plain_packets(level, data + pos, size - pos, sink);
        if (used > 0) {
            pos += used;
            continue;
        }
        // Any packet: checked against the data's end, cut at the picture's end,
        // split at row ends, mirrored.
        if (pos == size)
            return false;
        const std::size_t n = sink.row * sink.rows.w + sink.col;
        const std::uint8_t header = data[pos++];
        const std::size_t length = std::min<std::size_t>((header & 0x7Fu) + 1, count - n);
        if (header & 0x80) {
            if (size - pos < pixel_bytes)
                return false;
            put_run(level, sink, bgr_to_16(data + pos), length);
            pos += pixel_bytes;
        } else {
            if ((size - pos) / pixel_bytes < length)
                return false;
            put_pixels(level, sink, data + pos, length);
            pos += pixel_bytes * length;
        }
    }
    return true;
}

} // namespace kernel_loops

// ---------------------------------------------------------------- the canvas
//
// A canvas row is cut into runs of at most paint_chunk pixels. Each run becomes
// one of the level's spans: a copy, a blend at one weight, a keyed copy, or the
// alpha-plane blit over the effective opacities of the run worked out first
// (key and plane and opacity in one byte per pixel). Mirrored runs are turned
// round into a small buffer first, with the level's reverse_span:
//
//   reverse_span(tag, to, from, n)   to[i] = from[-i], i < n
//   reverse_key_span(tag, to, from, n, key)
//                                    to[i] = from[-i] where that is not key
//   repeat_span(tag, to, from, n, k, phase)
//                                    to[i] = from[(phase + i) / k], i < n

namespace kernel_loops {

constexpr std::size_t paint_chunk = 256;

inline void reverse_span_portable(pixel16* to, const pixel16* from, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = *(from - static_cast<std::ptrdiff_t>(i));
}

// e[i] = 0 where keyed and s[i] == key, else (alpha[i] * opacity + 127) / 255,
// or opacity without a plane. The levels' opacity_span does the same.
inline void opacity_span_portable(std::uint8_t* e, const pixel16* s, const std::uint8_t* alpha,
                                  std::size_t n, const paint_style& style)
{
    const unsigned o = style.opacity;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned a = alpha != nullptr ? alpha[i] : 255;
        const bool skip = style.keyed && s[i] == style.key;
        e[i] = static_cast<std::uint8_t>(skip ? 0 : (a * o + 127) / 255);
    }
}

inline void reverse_key_span_portable(pixel16* to, const pixel16* from, std::size_t n,
                                     pixel16 key)
{
    for (std::size_t i = 0; i < n; ++i) {
        const pixel16 p = *(from - static_cast<std::ptrdiff_t>(i));
        if (p != key)
            to[i] = p;
    }
}

inline void repeat_span_portable(pixel16* to, const pixel16* from, std::size_t n, std::size_t k,
                                 std::size_t phase)
{
    for (std::size_t i = 0, left = k - phase; i < n; left = k, ++from) {
        const std::size_t m = std::min(left, n - i);
        std::fill(to + i, to + i + m, *from);
        i += m;
    }
}

// The alpha-plane blit at the run's effective opacities, in two passes; a level
// may do both in one (plane_span(tag, ...) beside this template).
template <typename Level>
void plane_span(Level level, pixel16* t, const pixel16* s, const std::uint8_t* alpha,
                std::size_t n, const paint_style& style)
{
    std::uint8_t e[paint_chunk];
    opacity_span(level, e, s, alpha, n, style);
    blit_a8_span(level, t, s, e, n);
}

// repeat_span's pixels on `rows` rows, `stride` apart: the first row, then
// copies of it. A level may store each register to every row instead.
template <typename Level>
void repeat_rows(Level level, pixel16* to, std::size_t stride, std::size_t rows,
                 const pixel16* from, std::size_t n, std::size_t k, std::size_t phase)
{
    repeat_span(level, to, from, n, k, phase);
    for (std::size_t r = 1; r < rows; ++r)
        std::copy(to, to + n, to + r * stride);
}

// How a run is painted, decided once per call.
enum class paint_kind { copy, blend, key, plane };

inline paint_kind kind_of(const paint_style& style, bool plane)
{
    if (plane || (style.keyed && style.opacity != 255))
        return paint_kind::plane;
    if (style.keyed)
        return paint_kind::key;
    return style.opacity == 255 ? paint_kind::copy : paint_kind::blend;
}

// One run of n <= paint_chunk pixels: source s (already in landing order),
// opacities from `alpha` read with `step`.
template <typename Level>
void paint_run(Level level, paint_kind kind, pixel16* t, const pixel16* s,
               const std::uint8_t* alpha, std::ptrdiff_t step, std::size_t n,
               const paint_style& style)
{
    switch (kind) {
    case paint_kind::copy: std::copy(s, s + n, t); return;
    case paint_kind::blend: blend_span(level, t, s, n, 255 - style.opacity); return;
    case paint_kind::key: blit_key_span(level, t, s, n, style.key); return;
    case paint_kind::plane: {
        // A mirrored plane is turned round first, like the pixels.
        std::uint8_t a[paint_chunk];
        if (alpha != nullptr && step < 0) {
            for (std::size_t i = 0; i < n; ++i)
                a[i] = *(alpha - static_cast<std::ptrdiff_t>(i));
            alpha = a;
        }
        plane_span(level, t, s, alpha, n, style);
        return;
    }
    }
}

template <typename Level>
void paint_rows_with(Level level, const paint_rows_job& job, const paint_style& style)
{
    const paint_kind kind = kind_of(style, job.alpha != nullptr);
    const std::ptrdiff_t step = job.reversed ? -1 : 1;
    pixel16 turned[paint_chunk];
    for (std::size_t r = 0; r < job.h; ++r) {
        const auto row = static_cast<std::ptrdiff_t>(r);
        for (std::size_t i = 0; i < job.w; i += paint_chunk) {
            const std::size_t n = std::min(paint_chunk, job.w - i);
            const std::ptrdiff_t k = step * static_cast<std::ptrdiff_t>(i);
            pixel16* t = job.to + row * job.to_stride + static_cast<std::ptrdiff_t>(i);
            const pixel16* f = job.from + row * job.from_stride + k;
            const std::uint8_t* a =
                job.alpha != nullptr ? job.alpha + row * job.alpha_stride + k : nullptr;
            if (job.reversed && kind == paint_kind::copy) {
                reverse_span(level, t, f, n);
                continue;
            }
            if (job.reversed && kind == paint_kind::key) { // one pass, no buffer
                reverse_key_span(level, t, f, n, style.key);
                continue;
            }
            if (job.reversed) {
                reverse_span(level, turned, f, n);
                f = turned;
            }
            paint_run(level, kind, t, f, a, step, n, style);
        }
    }
}

// Pixels [i, i + n) of picked row r, n <= paint_chunk, at t.
template <typename Level>
void paint_picked_run(Level level, paint_kind kind, const paint_picked_job& job, std::size_t r,
                      std::size_t i, std::size_t n, const paint_style& style)
{
    pixel16* t = job.to + r * job.to_stride + i;
    const pixel16* f = job.from + job.rows[r];
    const std::size_t* c = job.columns + i;
    if (kind == paint_kind::copy) {
        for (std::size_t q = 0; q < n; ++q)
            t[q] = f[c[q]];
        return;
    }
    if (kind == paint_kind::key) { // picking costs more than the test: no second pass
        for (std::size_t q = 0; q < n; ++q) {
            const pixel16 p = f[c[q]];
            if (p != style.key)
                t[q] = p;
        }
        return;
    }
    pixel16 picked[paint_chunk];
    for (std::size_t q = 0; q < n; ++q)
        picked[q] = f[c[q]];
    std::uint8_t picked_alpha[paint_chunk];
    if (job.alpha != nullptr) {
        const std::uint8_t* a = job.alpha + job.rows[r];
        for (std::size_t q = 0; q < n; ++q)
            picked_alpha[q] = a[c[q]];
    }
    paint_run(level, kind, t, picked, job.alpha != nullptr ? picked_alpha : nullptr, 1, n, style);
}

// A level may paint a whole job of copies or keys by other means
// (pick_by_shuffles(tag, ...) beside this); false: it did not.
template <typename Level>
bool pick_by_shuffles(Level, const paint_picked_job&, paint_kind, const paint_style&)
{
    return false;
}

template <typename Level>
void paint_picked_with(Level level, const paint_picked_job& job, const paint_style& style)
{
    const paint_kind kind = kind_of(style, job.alpha != nullptr);
    const bool repeated_copy = kind == paint_kind::copy && job.repeat > 0;
    if (!repeated_copy && pick_by_shuffles(level, job, kind, style))
        return;
    for (std::size_t r = 0; r < job.h;) {
        std::size_t same = 1; // rows from the same source row, painted alike
        while (kind == paint_kind::copy && r + same < job.h && job.rows[r + same] == job.rows[r])
            ++same;
        pixel16* row = job.to + r * job.to_stride;
        if (kind == paint_kind::copy && job.repeat > 0) {
            repeat_rows(level, row, job.to_stride, same, job.from + job.rows[r] + job.columns[0],
                        job.w, job.repeat, job.phase);
        } else {
            for (std::size_t i = 0; i < job.w; i += paint_chunk)
                paint_picked_run(level, kind, job, r, i, std::min(paint_chunk, job.w - i), style);
            for (std::size_t q = 1; q < same; ++q)
                std::copy(row, row + job.w, row + q * job.to_stride);
        }
        r += same;
    }
}

template <typename Level>
void fill_blend_rows_with(Level level, pixel16* first, std::size_t w, std::size_t h,
                          std::size_t stride, pixel16 value, unsigned e)
{
    pixel16 colour[paint_chunk];
    std::fill(colour, colour + paint_chunk, value);
    for (std::size_t j = 0; j < h; ++j) {
        for (std::size_t i = 0; i < w; i += paint_chunk)
            blend_span(level, first + j * stride + i, colour, std::min(paint_chunk, w - i), 255 - e);
    }
}

} // namespace kernel_loops
