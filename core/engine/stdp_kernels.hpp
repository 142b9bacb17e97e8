#pragma once
// The two walks of the tick for shards whose synapses are all STDP with one
// parameter set and shared traces (the common case at scale), on raw arrays
// so that nothing is reloaded or branched on per synapse that need not be.
// Index arrays come in 16 or 32 bits (PostIx, PreIx).

#include <cstddef>
#include <cstdint>

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

// Every line that [first, last) touches, also the last one of a span that
// starts late in a line.
template <class T>
inline void prefetch_span(const T* first, const T* last) {
    if (first == last)
        return;
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(last - 1);
    for (std::uintptr_t c = reinterpret_cast<std::uintptr_t>(first) & ~std::uintptr_t{63}; c <= end;
         c += 64)
        __builtin_prefetch(reinterpret_cast<const void*>(c));
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
        for (std::uint32_t k = in_begin[local]; k < last; ++k) {
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

// Every synapse of a spiking pre [spikes, spikes_end): depression where the
// post (local index) did not spike, then its current for the next tick into
// pending[post]. Every post of the shard is direct, so the walk in pre order
// sums each post's input in creation order.
template <class PostIx>
void depress_and_deliver(const std::uint32_t* spikes, const std::uint32_t* spikes_end,
                         const std::uint32_t* row_begin, float* __restrict weight,
                         const PostIx* post, const std::uint8_t* spiked_local,
                         const float* decayed_local, const StdpParams p,
                         float* __restrict pending) {
    for (const std::uint32_t* s = spikes; s != spikes_end; ++s) {
        if (s + kRowsAhead < spikes_end) {
            const std::uint32_t next = s[kRowsAhead];
            const std::uint32_t from = row_begin[next];
            prefetch_lines(weight + from, row_begin[next + 1] - from);
            prefetch_lines(post + from, row_begin[next + 1] - from);
        }
        const std::uint32_t last = row_begin[*s + 1];
        for (std::uint32_t pos = row_begin[*s]; pos < last; ++pos) {
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
    for (const std::uint32_t* s = spikes; s != spikes_end; ++s) {
        if (s + kRowsAhead < spikes_end) {
            const std::uint32_t next = s[kRowsAhead];
            const std::uint32_t from = row_begin[next];
            prefetch_lines(weight + from, row_begin[next + 1] - from);
            prefetch_lines(post + from, row_begin[next + 1] - from);
        }
        const std::uint32_t last = row_begin[*s + 1];
        for (std::uint32_t pos = row_begin[*s]; pos < last; ++pos) {
            const std::uint32_t local = post[pos];
            const float w = weight[pos];
            const float depressed =
                clamp_weight(w - p.a_minus * decayed_local[local], p.w_min, p.w_max);
            weight[pos] = select_bits(spiked_local[local] != 0, w, depressed);
        }
    }
}

// The current of positions [from, to) into pending of their (direct) posts,
// one range after the other: the ranges come sorted by pre neuron.
struct Range {
    std::uint32_t from;
    std::uint32_t to;
};
template <class PostIx>
void deliver(const Range* ranges, const Range* ranges_end, const float* weight, const PostIx* post,
             float gain, float* __restrict pending) {
    for (const Range* r = ranges; r != ranges_end; ++r) {
        if (r + kRangesAhead < ranges_end) {
            const Range& next = r[kRangesAhead];
            prefetch_span(weight + next.from, weight + next.to);
            prefetch_span(post + next.from, post + next.to);
        }
        for (std::uint32_t pos = r->from; pos < r->to; ++pos)
            pending[post[pos]] += weight[pos] * gain;
    }
}

}  // namespace vorn::kernels
