// Colour-mapped run-length packets one at a time, for the levels that say
// walks_index_packets (kernels_format_loops.h lists what they supply).
//
// Templates only, every one instantiated for one level: the NEON files include
// this after kernels_neon.h, so that on 32-bit ARM the NEON level's walk is
// compiled for NEON and takes its runs inline, while the portable level's is
// not (an inline function without a level would be one copy for both).
//
// Pixel art is short packets (runs of 16 pixels and raw packets of 4 on
// average, most raw ones under a group of eight), so the walk costs more than
// the pixels. The common walk, flattened into the decoder with every span,
// kept its cursor, its pointers and the map's bounds on 32-bit ARM's stack and
// spent about 78 instructions a packet. This one knows its packets are indices
// and that there is an opacity plane, holds the row cursor in locals and its
// packets' short cases inline. With NEON on 32-bit ARM, pixel art took 5.46
// instructions a pixel where the common walk took 7.25; the portable level on
// x86-64 decodes dithered pictures in half to three quarters of the time, the
// loops of their short packets' spans having mispredicted their ends. Packets
// across a row's end, and pictures without a plane or mirrored, go to the
// common code, alike.
#pragma once

#include "kernels_format_loops.h"

namespace kernel_loops {

// N indices, N known when compiled: no loop to count, every address an
// offset; returns the pixels put, as index_span_portable.
template <std::size_t N, typename Level>
__attribute__((always_inline)) inline std::size_t
few_indices(Level, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src,
            const stored_format& f)
{
    const std::uint32_t* const map = f.map;
    const unsigned first = f.first;
    const unsigned count = f.end - f.first;
#pragma GCC unroll 8
    for (std::size_t i = 0; i < N; ++i) {
        const unsigned index = src[i];
        const std::uint32_t entry = map[index];
        if (outside(entry, index, first, count))
            return i;
        to[i] = static_cast<pixel16>(entry);
        alpha[i] = static_cast<std::uint8_t>(entry >> 16);
    }
    return N;
}

// The longest raw packet with a body of its own (few_indices). Past four GCC
// chooses the body by a jump table, whose one indirect branch x86 cores
// mispredict on dithered pictures: at the portable level on x86-64 bodies up
// to seven took a 256-entry one twice the time. NEON keeps seven, counted by
// instructions on ARM's cores, which mostly run in order.
template <typename Level>
constexpr std::size_t raw_packet_bodies(Level)
{
    return 4;
}

// A raw packet's indices within a row, as index_span: pixel art's are mostly
// shorter than a group (four pixels on average), and a body for each length
// took pixel art from 5.92 to 5.76 instructions a pixel on 32-bit ARM (from
// 5.39 to 4.95 on aarch64).
template <typename Level>
__attribute__((always_inline)) inline std::size_t
raw_indices(Level level, pixel16* to, std::uint8_t* alpha, const std::uint8_t* src, std::size_t n,
            const stored_format& f)
{
    static_assert(raw_packet_bodies(Level{}) == 4 || raw_packet_bodies(Level{}) == 7);
    switch (n) {
    case 1: return few_indices<1>(level, to, alpha, src, f);
    case 2: return few_indices<2>(level, to, alpha, src, f);
    case 3: return few_indices<3>(level, to, alpha, src, f);
    case 4: return few_indices<4>(level, to, alpha, src, f);
    }
    if constexpr (raw_packet_bodies(Level{}) == 7) {
        switch (n) {
        case 5: return few_indices<5>(level, to, alpha, src, f);
        case 6: return few_indices<6>(level, to, alpha, src, f);
        case 7: return few_indices<7>(level, to, alpha, src, f);
        }
    }
    return index_span(level, to, alpha, src, n, f);
}

// As expand_common_packets<stored_kind::index8> with an opacity plane, rows
// left to right and at least a largest packet of data (index_packets checks):
// the common packets from data on, stopping at the first that needs the
// careful path (a bad index: the sink then stands at that packet's start);
// returns the bytes used.
template <typename Level>
__attribute__((noinline)) std::size_t walk_index_packets(Level level, plane_sink& sink,
                                                         const stored_format& f,
                                                         const std::uint8_t* data,
                                                         std::size_t size)
{
    constexpr std::size_t largest = 1 + 128;
    const std::size_t w = sink.planes.w;
    const std::size_t h = sink.planes.h;
    const stored_format format = f; // see expand_common_packets
    const std::uint32_t* const map = f.map;
    const unsigned first = f.first;
    const unsigned count = f.end - f.first;
    pixel16* const pixels = sink.planes.pixels;
    std::uint8_t* const alpha = sink.planes.alpha;
    const std::uint8_t* p = data;
    const std::uint8_t* const last_safe = data + (size - largest);
    std::size_t room = w - sink.col;
    // Cursors in both planes rather than one offset: on 32-bit ARM the planes'
    // bases did not stay in registers, and each packet reloaded them.
    pixel16* to = pixels + span_offset(sink, room);
    std::uint8_t* to_alpha = alpha + (to - pixels);
    while (p <= last_safe) {
        const unsigned header = *p;
        const std::size_t length = (header & 0x7Fu) + 1;
        row_cursor c;
        if (length <= room) {
            if (header & 0x80) {
                const unsigned index = p[1];
                const std::uint32_t entry = map[index];
                if (outside(entry, index, first, count))
                    break;
                index_run(level, to, to_alpha, length, entry);
                p += 2;
            } else {
                if (raw_indices(level, to, to_alpha, p + 1, length, format) < length)
                    break;
                p += length + 1;
            }
            to += length;
            to_alpha += length;
            room -= length;
            if (room > 0)
                continue; // the picture can end only where a row does
            c = row_cursor{0, 0};
            next_row(sink, c);
        } else {
            c = row_cursor{static_cast<std::size_t>(to - pixels), room};
            if (length - room > (h - sink.row - 1) * w ||
                !put_common_packet<stored_kind::index8>(level, sink, c, format, p, length))
                break;
            p += packet_bytes(header);
        }
        to = pixels + c.at;
        to_alpha = alpha + c.at;
        room = c.room;
        if (sink.row == h)
            break;
    }
    sink.col = w - room;
    return static_cast<std::size_t>(p - data);
}

template <typename Level>
std::size_t index_packets(Level level, plane_sink& sink, const stored_format& f,
                          const std::uint8_t* data, std::size_t size)
{
    if (size < 1 + 128 || sink.planes.right_to_left || sink.row == sink.planes.h ||
        sink.planes.alpha == nullptr)
        return expand_common_packets<stored_kind::index8>(level, sink, f, data, size);
    return walk_index_packets(level, sink, f, data, size);
}

} // namespace kernel_loops
