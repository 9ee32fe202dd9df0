import numpy as np
import pytest

# _quorlax reads NumPy's C API table of the 1.x series (ABI 0x1000009): where
# NumPy 2 is installed, its import fails as specified, and only the quorlax
# package (its own binding) can be tested.
SPECIFIED_MODULE_USABLE = int(np.__version__.split(".")[0]) < 2
needs_specified_module = pytest.mark.skipif(not SPECIFIED_MODULE_USABLE,
                                            reason=f"_quorlax needs NumPy 1.x (NumPy {np.__version__} is installed)")


@pytest.fixture
def handle():
    import _quorlax as q

    h = q.QUORLAX_Create()
    yield h
    q.QUORLAX_Destroy(h)


@pytest.fixture
def configured(handle):
    """A handle in audible mode at 44100 Hz handing out 1024 samples a call."""
    import _quorlax as q

    assert q.QUORLAX_Configure(q.QUORLAX_MODE_AUDIBLE, 44100.0, 1024, handle) == 0
    return handle
