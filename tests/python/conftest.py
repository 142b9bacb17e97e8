import os
import struct
import uuid

import pytest

import vorn_py

# The sanitizer build runs with its runtime preloaded; allocation-sensitive
# measurements are meaningless there (freed memory sits in quarantine).
UNDER_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.fixture
def sim():
    return vorn_py.Sim()


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
