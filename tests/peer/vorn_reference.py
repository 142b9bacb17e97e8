"""A vectorised single-precision model of one vorn tick, used as the oracle
that the Brian2 model and vorn_py are checked against.

It follows the engine's order of operations for LIF neurons with constant
stimulation and STDP synapses: synaptic input from the previous tick's spikes
(summed per target in creation order, then added to the stimulus), the LIF
step (J = I + epsc; refractory clamp or Euler step; epsc = J * decay;
threshold), then per-synapse trace decay, depression on a pre spike and
potentiation on a post spike, each clipped to [w_min, w_max].
"""

import ctypes
import ctypes.util

import numpy as np

_libm = ctypes.CDLL(ctypes.util.find_library("m"))
_libm.expf.restype = ctypes.c_float
_libm.expf.argtypes = [ctypes.c_float]

f32 = np.float32


def expf(x):
    """The C library's single-precision exponential, as the engine calls it."""
    return f32(_libm.expf(f32(x)))


class VornReference:
    def __init__(self, n, pre, post, weight, stim, g_syn=1.0, dt=1.0):
        self.dt = f32(dt)
        self.pre = np.asarray(pre, dtype=np.int64)
        self.post = np.asarray(post, dtype=np.int64)
        self.w = np.asarray(weight, dtype=np.float32).copy()
        self.g_syn = np.full(self.w.shape, g_syn, dtype=np.float32)
        self.stim = np.asarray(stim, dtype=np.float32)
        self.v = np.full(n, -65.0, dtype=np.float32)
        self.epsc = np.zeros(n, dtype=np.float32)
        self.refractory_left = np.zeros(n, dtype=np.float32)
        self.pre_trace = np.zeros(self.w.shape, dtype=np.float32)
        self.post_trace = np.zeros(self.w.shape, dtype=np.float32)
        self.spiked = np.zeros(n, dtype=bool)
        self.v_rest, self.v_thresh, self.v_reset = f32(-65.0), f32(-50.0), f32(-70.0)
        self.tau_m, self.tau_syn, self.refractory_ms = f32(20.0), f32(5.0), f32(2.0)
        self.a_plus, self.a_minus = f32(0.01), f32(0.012)
        self.tau_plus, self.tau_minus = f32(20.0), f32(20.0)

    def tick(self):
        """Advances one tick; returns the boolean spike vector of this tick."""
        dt = self.dt
        active = self.spiked[self.pre]
        syn = np.zeros_like(self.v)
        # np.add.at accumulates unbuffered in index order: creation order per target.
        np.add.at(syn, self.post[active], (self.w * self.g_syn)[active])
        current = self.stim + syn

        j = current + self.epsc
        refractory = self.refractory_left > 0
        left = np.maximum(self.refractory_left - dt, f32(0.0))
        integrated = self.v + dt * ((j + (self.v_rest - self.v)) / self.tau_m)
        self.v = np.where(refractory, self.v_reset, integrated).astype(np.float32)
        self.refractory_left = np.where(refractory, left, self.refractory_left).astype(np.float32)
        self.epsc = j * expf(-dt / self.tau_syn)
        spiked = ~refractory & (self.v >= self.v_thresh)
        self.v[spiked] = self.v_reset
        self.refractory_left[spiked] = self.refractory_ms

        self.pre_trace *= expf(-dt / self.tau_plus)
        self.post_trace *= expf(-dt / self.tau_minus)
        pre_hit = spiked[self.pre]
        post_hit = spiked[self.post]
        self.pre_trace[pre_hit] += f32(1.0)
        self.w[pre_hit] = self._clip(self.w[pre_hit] - self.a_minus * self.post_trace[pre_hit])
        self.post_trace[post_hit] += f32(1.0)
        self.w[post_hit] = self._clip(self.w[post_hit] + self.a_plus * self.pre_trace[post_hit])
        self.spiked = spiked
        return spiked

    @staticmethod
    def _clip(w):
        return np.minimum(np.maximum(w, f32(0.0)), f32(1.0))
