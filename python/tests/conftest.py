"""Shared helpers: the programs of the build (OSTREL_BUILD, default ../../build) and WAV files."""
import os
import subprocess
import wave

import numpy as np
import pytest

BUILD = os.environ.get("OSTREL_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
os.environ.setdefault("OSTREL_LIBRARY", os.path.join(BUILD, "lib", "libostrel.so"))


def program(name, *args):
    return subprocess.run([os.path.join(BUILD, name), *map(str, args)], check=True, capture_output=True)


def signal(samples, seed=1):
    """A stereo test signal with tones, a chirp, noise and a click (int16, shape (samples, 2))."""
    t = np.arange(samples) / 44100.0
    rng = np.random.default_rng(seed)
    left = 0.4 * np.sin(2 * np.pi * 440 * t) + 0.1 * rng.standard_normal(samples)
    right = 0.5 * np.sin(2 * np.pi * (200 + 3000 * t) * t)
    right[samples // 3] = 0.99
    return (np.stack([left, right], axis=1).clip(-1, 1) * 32767).astype(np.int16)


def write_wav(path, data):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(np.ascontiguousarray(data, "<i2").tobytes())


def read_wav(path):
    with wave.open(str(path), "rb") as w:
        return np.frombuffer(w.readframes(w.getnframes()), "<i2").reshape(-1, 2)


@pytest.fixture(scope="session")
def source():
    return signal(3 * 44100 + 1234)
