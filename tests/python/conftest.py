import os
import struct
import uuid

import pytest

import vorn_py

# The sanitizer build runs with its runtime preloaded; allocation-sensitive
# measurements are meaningless there (freed memory sits in quarantine).
UNDER_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")

NOW = "2024-01-01T00:00:00Z"


@pytest.fixture
def sim():
    return vorn_py.Sim()


def new_cortex(path, cortex_type="lif", **kwargs):
    return vorn_py.Cortex.create(str(path), "net", cortex_type, NOW, **kwargs)


def fresh_id() -> str:
    return str(uuid.uuid4())


def raises_text(exc_type, call, *args, **kwargs) -> str:
    """Calls call(*args, **kwargs), expects exactly exc_type, returns the message."""
    with pytest.raises(exc_type) as info:
        call(*args, **kwargs)
    assert type(info.value) is exc_type, f"got {type(info.value).__name__}: {info.value}"
    return str(info.value)


def f32(x: float) -> float:
    """x rounded to single precision, as a Python float."""
    return struct.unpack("f", struct.pack("f", x))[0]


class Floaty:
    """A number reachable only through __float__."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Indexy:
    """A number reachable only through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class CallsBack:
    """A number whose conversion (__float__ or __index__) first runs `action`,
    recording the text of a RuntimeError it raised before re-raising it."""

    def __init__(self, action, value=1.0):
        self.action, self.value, self.error = action, value, None

    def _run(self):
        try:
            self.action()
        except RuntimeError as err:
            self.error = str(err)
            raise

    def __float__(self):
        self._run()
        return float(self.value)

    def __index__(self):
        self._run()
        return int(self.value)
