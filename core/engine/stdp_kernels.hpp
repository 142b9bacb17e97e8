#pragma once
// The two walks of the tick for shards whose synapses are all STDP with one
// parameter set and shared traces (the common case at scale), on raw arrays
// so that nothing is reloaded or branched on per synapse that need not be.
// Index arrays come in 16 or 32 bits (PostIx, PreIx).

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/engine/stdp_synapse.hpp"
#include "core/engine/synapse_word.hpp"
#include "core/util/bit_select.hpp"

namespace vorn::kernels {

inline constexpr std::size_t kLinksAhead = 128;  // links prefetched ahead in the scattered walk
inline constexpr std::size_t kRowsAhead = 2;     // spiking rows prefetched ahead
// Delay groups are a few synapses each: fetched further ahead.
inline constexpr std::size_t kRangesAhead = 16;

template <class T>
inline void prefetch_lines(const T* p, std::size_t count) {
    const char* c = reinterpret_cast<const char*>(p);
    const char* end = c + count * sizeof(T);
    for (; c < end; c += 64)
        __builtin_prefetch(c);
}

// Four lanes of single precision, and their masks. Lane by lane the
// arithmetic is the scalar arithmetic, so results are the same bits.
using F4 = float __attribute__((vector_size(16)));
using I4 = std::int32_t __attribute__((vector_size(16)));

inline F4 splat(float x) {
    return F4{x, x, x, x};
}

inline F4 clamp4(F4 x, F4 lo, F4 hi) {
    x = x < lo ? lo : x;
    return x > hi ? hi : x;
}

// Every synapse onto a spiking post [posts, posts_end) (global indices,
// ascending, all within the shard starting at `begin`): depression first
// when its pre spiked too, then potentiation with the pre trace after this
// tick's increment. A second cursor runs kLinksAhead links ahead to fetch
// the scattered weights.
template <class PreIx>
void potentiate(const std::uint32_t* posts, const std::uint32_t* posts_end, std::uint32_t begin,
                const std::uint32_t* in_begin, const std::uint32_t* in_position,
                const PreIx* in_pre, float* __restrict weight, const std::uint8_t* spiked,
                const float* trace_value, const float* trace_decayed, const StdpParams p) {
    const std::uint32_t* ahead_post = posts;
    std::uint32_t ahead = in_begin[*posts - begin];
    std::uint32_t ahead_end = in_begin[*posts - begin + 1];
    auto step_ahead = [&]() {
        while (ahead == ahead_end) {
            if (ahead_post == posts_end || ++ahead_post == posts_end)
                return;
            ahead = in_begin[*ahead_post - begin];
            ahead_end = in_begin[*ahead_post - begin + 1];
        }
        __builtin_prefetch(weight + in_position[ahead++], 1);
    };
    for (std::size_t k = 0; k < kLinksAhead; ++k)
        step_ahead();
    const F4 a_minus4 = splat(p.a_minus), a_plus4 = splat(p.a_plus);
    const F4 lo = splat(p.w_min), hi = splat(p.w_max);
    for (const std::uint32_t* s = posts; s != posts_end; ++s) {
        if (s + kRowsAhead < posts_end) {
            const std::uint32_t next = s[kRowsAhead] - begin;
            const std::uint32_t from = in_begin[next];
            prefetch_lines(in_position + from, in_begin[next + 1] - from);
            prefetch_lines(in_pre + from, in_begin[next + 1] - from);
        }
        const float post_decayed = trace_decayed[*s];
        const std::uint32_t local = *s - begin;
        const std::uint32_t last = in_begin[local + 1];
        std::uint32_t k = in_begin[local];
        // Four links at a time: distinct synapses, so their weights are
        // read together and written back together.
        const F4 depression = a_minus4 * splat(post_decayed);
        for (; k + 4 <= last; k += 4) {
            step_ahead();
            step_ahead();
            step_ahead();
            step_ahead();
            const std::uint32_t q0 = in_position[k], q1 = in_position[k + 1],
                                q2 = in_position[k + 2], q3 = in_position[k + 3];
            const std::uint32_t r0 = in_pre[k], r1 = in_pre[k + 1], r2 = in_pre[k + 2],
                                r3 = in_pre[k + 3];
            F4 w = {weight[q0], weight[q1], weight[q2], weight[q3]};
            const I4 pre_spiked = {spiked[r0], spiked[r1], spiked[r2], spiked[r3]};
            const F4 pre_trace = {trace_value[r0], trace_value[r1], trace_value[r2],
                                  trace_value[r3]};
            const F4 depressed = clamp4(w - depression, lo, hi);
            w = pre_spiked != 0 ? depressed : w;
            const F4 potentiated = clamp4(w + a_plus4 * pre_trace, lo, hi);
            weight[q0] = potentiated[0];
            weight[q1] = potentiated[1];
            weight[q2] = potentiated[2];
            weight[q3] = potentiated[3];
        }
        for (; k < last; ++k) {
            step_ahead();
            const std::uint32_t position = in_position[k];
            const std::uint32_t pre = in_pre[k];
            float w = weight[position];
            const float depressed = clamp_weight(w - p.a_minus * post_decayed, p.w_min, p.w_max);
            w = select_bits(spiked[pre] != 0, depressed, w);
            weight[position] = clamp_weight(w + p.a_plus * trace_value[pre], p.w_min, p.w_max);
        }
    }
}

// The weights of four synapses in a row, after depression where the post
// did not spike.
template <class PostIx>
inline F4 depress4(const float* w_at, const PostIx* post_at, const std::uint8_t* spiked_local,
                   const float* decayed_local, F4 a_minus, F4 lo, F4 hi) {
    F4 w;
    std::memcpy(&w, w_at, sizeof w);
    const std::uint32_t l0 = post_at[0], l1 = post_at[1], l2 = post_at[2], l3 = post_at[3];
    const F4 decayed = {decayed_local[l0], decayed_local[l1], decayed_local[l2], decayed_local[l3]};
    const I4 spiked = {spiked_local[l0], spiked_local[l1], spiked_local[l2], spiked_local[l3]};
    const F4 x = clamp4(w - a_minus * decayed, lo, hi);
    return spiked != 0 ? w : x;
}

// Every synapse of a spiking pre [spikes, spikes_end): depression where the
// post (local index) did not spike, then its current for the next tick into
// pending[post]. Every post of the shard is direct, so the walk in pre order
// sums each post's input in creation order (a row names each post once, so
// the four of a step may be added in any order).
template <class PostIx>
void depress_and_deliver(const std::uint32_t* spikes, const std::uint32_t* spikes_end,
                         const std::uint32_t* row_begin, float* __restrict weight,
                         const PostIx* post, const std::uint8_t* spiked_local,
                         const float* decayed_local, const StdpParams p,
                         float* __restrict pending) {
    const F4 a_minus = splat(p.a_minus), lo = splat(p.w_min), hi = splat(p.w_max);
    const F4 gain = splat(p.g_syn);
    for (const std::uint32_t* s = spikes; s != spikes_end; ++s) {
        if (s + kRowsAhead < spikes_end) {
            const std::uint32_t next = s[kRowsAhead];
            const std::uint32_t from = row_begin[next];
            prefetch_lines(weight + from, row_begin[next + 1] - from);
            prefetch_lines(post + from, row_begin[next + 1] - from);
        }
        const std::uint32_t last = row_begin[*s + 1];
        std::uint32_t pos = row_begin[*s];
        for (; pos + 4 <= last; pos += 4) {
            const F4 w =
                depress4(weight + pos, post + pos, spiked_local, decayed_local, a_minus, lo, hi);
            std::memcpy(weight + pos, &w, sizeof w);
            const F4 current = w * gain;
            pending[post[pos]] += current[0];
            pending[post[pos + 1]] += current[1];
            pending[post[pos + 2]] += current[2];
            pending[post[pos + 3]] += current[3];
        }
        for (; pos < last; ++pos) {
            const std::uint32_t local = post[pos];
            float w = weight[pos];
            const float depressed =
                clamp_weight(w - p.a_minus * decayed_local[local], p.w_min, p.w_max);
            w = select_bits(spiked_local[local] != 0, w, depressed);
            weight[pos] = w;
            pending[local] += w * p.g_syn;
        }
    }
}

// Depression only, for spikes whose delivery is scheduled for later.
template <class PostIx>
void depress(const std::uint32_t* spikes, const std::uint32_t* spikes_end,
             const std::uint32_t* row_begin, float* __restrict weight, const PostIx* post,
             const std::uint8_t* spiked_local, const float* decayed_local, const StdpParams p) {
    const F4 a_minus = splat(p.a_minus), lo = splat(p.w_min), hi = splat(p.w_max);
    for (const std::uint32_t* s = spikes; s != spikes_end; ++s) {
        if (s + kRowsAhead < spikes_end) {
            const std::uint32_t next = s[kRowsAhead];
            const std::uint32_t from = row_begin[next];
            prefetch_lines(weight + from, row_begin[next + 1] - from);
            prefetch_lines(post + from, row_begin[next + 1] - from);
        }
        const std::uint32_t last = row_begin[*s + 1];
        std::uint32_t pos = row_begin[*s];
        for (; pos + 4 <= last; pos += 4) {
            const F4 w =
                depress4(weight + pos, post + pos, spiked_local, decayed_local, a_minus, lo, hi);
            std::memcpy(weight + pos, &w, sizeof w);
        }
        for (; pos < last; ++pos) {
            const std::uint32_t local = post[pos];
            const float w = weight[pos];
            const float depressed =
                clamp_weight(w - p.a_minus * decayed_local[local], p.w_min, p.w_max);
            weight[pos] = select_bits(spiked_local[local] != 0, w, depressed);
        }
    }
}

// The current of positions [from, to) into pending of their (direct) posts,
// one range after the other: the ranges come sorted by pre neuron. Delay
// groups are a few synapses each, so the first and last line of a range
// further on are fetched ahead (a longer range streams).
template <class Range, class PostIx>
void deliver(const Range* ranges, const Range* ranges_end, const float* weight, const PostIx* post,
             float gain, float* __restrict pending) {
    for (const Range* r = ranges; r != ranges_end; ++r) {
        if (r + kRangesAhead < ranges_end) {
            const Range& next = r[kRangesAhead];
            __builtin_prefetch(weight + next.from);
            __builtin_prefetch(weight + next.to - 1);
            __builtin_prefetch(post + next.from);
            __builtin_prefetch(post + next.to - 1);
        }
        for (std::uint32_t pos = r->from; pos < r->to; ++pos)
            pending[post[pos]] += weight[pos] * gain;
    }
}

}  // namespace vorn::kernels
