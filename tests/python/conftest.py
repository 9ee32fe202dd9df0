import pytest

import _quorlax as q


@pytest.fixture
def handle():
    h = q.QUORLAX_Create()
    yield h
    q.QUORLAX_Destroy(h)


@pytest.fixture
def configured(handle):
    """A handle in audible mode at 44100 Hz handing out 1024 samples a call."""
    assert q.QUORLAX_Configure(q.QUORLAX_MODE_AUDIBLE, 44100.0, 1024, handle) == 0
    return handle
