"""The reference network shared by the peer benchmark's simulators.

Every random choice comes from a counter-based draw (a splitmix64 finaliser
applied to a golden-ratio sequence), so numpy here and the C++ benchmark can
rebuild the identical network without sharing a generator state:

    draw(k) = mix(12345 + (k + 1) * 0x9e3779b97f4a7c15)   (uint64, wrapping)
    unit(k) = (draw(k) >> 11) * 2**-53                     (double in [0, 1))

Node i has id hi = 0, lo = i + 1; the edge i -> j (j != i) exists iff
unit(i*n + j) < p, has id hi = 1, lo = i*n + j and weight
float32(0.4 + 0.2 * unit(n*n + i*n + j)); node i receives the constant current
float32(30 * unit(2*n*n + i)).
"""

from dataclasses import dataclass

import numpy as np

GOLDEN = np.uint64(0x9E3779B97F4A7C15)
SEED = np.uint64(12345)
MIX_A = np.uint64(0xBF58476D1CE4E5B9)
MIX_B = np.uint64(0x94D049BB133111EB)
UNIT_SCALE = 2.0**-53

DEFAULT_N = 10_000
DEFAULT_P = 0.01
WEIGHT_BASE = 0.4
WEIGHT_SPAN = 0.2
STIM_SCALE = 30.0
STIM_DURATION_MS = 1e9  # never expires within a benchmark run

# Rows of the n x n candidate matrix drawn per numpy batch; bounds the
# temporaries to about 8 bytes * rows * n.
_ROWS_PER_BATCH = 500


def mix(z):
    """splitmix64 finaliser of a uint64 array, wrapping modulo 2**64."""
    z = np.asarray(z, dtype=np.uint64)
    with np.errstate(over="ignore"):
        z = (z ^ (z >> np.uint64(30))) * MIX_A
        z = (z ^ (z >> np.uint64(27))) * MIX_B
    return z ^ (z >> np.uint64(31))


def draw(k):
    """The k-th counter-based draw (uint64) for a uint64 array of counters."""
    k = np.asarray(k, dtype=np.uint64)
    with np.errstate(over="ignore"):
        return mix(SEED + (k + np.uint64(1)) * GOLDEN)


def unit(k):
    """The k-th draw as a double in [0, 1); the top 53 bits make it exact."""
    return (draw(k) >> np.uint64(11)).astype(np.float64) * UNIT_SCALE


@dataclass
class Network:
    """Connectivity in edge-creation order plus per-node drive."""

    n: int
    pre: np.ndarray  # int32, source node of each edge
    post: np.ndarray  # int32, target node of each edge
    weight: np.ndarray  # float32, initial weight of each edge
    stim: np.ndarray  # float32, constant input current of each node

    @property
    def n_edges(self):
        return int(self.pre.size)

    def edge_lo(self):
        """The low 64 bits of every edge id: pre * n + post."""
        return self.pre.astype(np.int64) * self.n + self.post.astype(np.int64)


def build_network(n=DEFAULT_N, p=DEFAULT_P):
    """Draws the reference network of n nodes with edge probability p."""
    pres, posts = [], []
    cols = np.arange(n, dtype=np.uint64)
    for first in range(0, n, _ROWS_PER_BATCH):
        rows = np.arange(first, min(first + _ROWS_PER_BATCH, n), dtype=np.uint64)
        counters = rows[:, None] * np.uint64(n) + cols[None, :]
        hit = unit(counters) < p
        hit[np.arange(rows.size), rows.astype(np.int64)] = False  # no self-edges
        r, c = np.nonzero(hit)  # row-major: (i, j) order
        pres.append((r + first).astype(np.int32))
        posts.append(c.astype(np.int32))
    pre = np.concatenate(pres)
    post = np.concatenate(posts)
    edge_k = np.uint64(n * n) + pre.astype(np.uint64) * np.uint64(n) + post.astype(np.uint64)
    weight = (WEIGHT_BASE + WEIGHT_SPAN * unit(edge_k)).astype(np.float32)
    node_k = np.uint64(2 * n * n) + np.arange(n, dtype=np.uint64)
    stim = (STIM_SCALE * unit(node_k)).astype(np.float32)
    return Network(n=n, pre=pre, post=post, weight=weight, stim=stim)


def node_id_text(i):
    """Canonical UUID text of node i: hi = 0, lo = i + 1."""
    return f"00000000-0000-0000-{(i + 1) >> 48:04x}-{(i + 1) & 0xFFFFFFFFFFFF:012x}"


def edge_id_text(lo):
    """Canonical UUID text of an edge id with hi = 1 and the given lo."""
    return f"00000000-0000-0001-{lo >> 48:04x}-{lo & 0xFFFFFFFFFFFF:012x}"


def save_network(net, path):
    np.savez(path, n=net.n, pre=net.pre, post=net.post, weight=net.weight, stim=net.stim)


def load_network(path):
    with np.load(path) as f:
        return Network(
            n=int(f["n"]), pre=f["pre"], post=f["post"], weight=f["weight"], stim=f["stim"]
        )
