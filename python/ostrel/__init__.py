"""Ostrel compressed audio for Python: numpy arrays in, numpy arrays out.

    data, info = ostrel.read("song.ost")              # float32, shape (samples, 2)
    ostrel.write("out.ost", data, kbps=192, tags={"TITLE": "Song"})

    with ostrel.Decoder("song.ost") as dec:            # or any binary file object
        for block in dec.blocks(4096, dtype="int16"):
            ...
    with ostrel.Encoder("out.ost", kbps=128) as enc:   # or any binary file object
        enc.write(block)

Streams are 44100 Hz stereo. Every failure of the library is an OstrelError whose `status` is the
library's status code and whose text is the library's description of it.
"""
import ctypes
import os
import tempfile

import numpy as np

from . import _lib

__all__ = ["read", "write", "info", "Encoder", "Decoder", "Info", "OstrelError", "bitrates",
           "__version__", "SAMPLE_RATE", "CHANNELS"]

__version__ = _lib.version()
SAMPLE_RATE = 44100
CHANNELS = 2
_BLOCK = 16384


class OstrelError(Exception):
    """A failure the library reported: `status` is its code, str() its description."""

    def __init__(self, status, context=None):
        self.status = status
        text = _lib.strerror(status)
        super().__init__(f"{context}: {text}" if context else text)


def bitrates():
    """The data rates the encoder takes, in kb/s, ascending."""
    return _lib.bitrates()


def _check(status, context=None):
    if status < 0:
        raise OstrelError(status, context)
    return status


class Info:
    """What a stream's header says. `frames` is the length in samples per channel (as in
    soundfile), `stream_frames` the count of coded frames the header gives (0: not stored)."""

    def __init__(self, raw, tags, tag_note, name=None):
        self.name = name
        self.samplerate = raw.sample_rate
        self.channels = raw.channels
        self.frames = raw.samples
        self.duration = raw.samples / raw.sample_rate if raw.sample_rate else 0.0
        self.kbps = raw.kbps
        self.stream_frames = raw.frames
        self.frame_bytes = raw.frame_bytes
        self.samples_per_frame = raw.samples_per_frame
        self.delay = raw.delay
        self.header_bytes = raw.header_bytes
        dec = lambda b: (b or b"").decode("utf-8", "replace")
        self.title, self.artist, self.comment = dec(raw.title), dec(raw.author), dec(raw.comment)
        self.tags = tags
        self.tag_note = tag_note

    def tag(self, key, default=None):
        """The first value of `key` (any case), or `default`."""
        key = key.upper()
        return next((v for k, v in self.tags if k == key), default)

    def __repr__(self):
        return (f"<ostrel.Info {self.name or ''!s} {self.kbps} kb/s, {self.frames} samples "
                f"({self.duration:.3f} s), {self.samplerate} Hz, {self.channels} channels, "
                f"{len(self.tags)} tags>")


def _open(file, mode):
    """(file object, whether we opened it) for a path or a binary file object."""
    if isinstance(file, (str, bytes, os.PathLike)):
        return open(file, mode), True
    return file, False


def _seekable(f):
    try:
        return f.seekable()
    except (AttributeError, OSError, ValueError):
        return False


class Decoder:
    """Reads a stream from a path or a binary file object (seeking needs a seekable one).
    With join=True a stream that begins in the middle (a cut file) is decoded from its first frame."""

    def __init__(self, file, join=False):
        self._file, self._owned = _open(file, "rb")
        self._dec = None
        self._error = None
        self._base = self._file.tell() if _seekable(self._file) else 0
        self._read_cb = _lib.INPUT_FN(self._on_read)
        self._seek_cb = _lib.SEEK_FN(self._on_seek) if _seekable(self._file) else _lib.SEEK_FN()
        status = ctypes.c_int()
        try:
            self._dec = _lib.lib.ostrel_decoder_open(self._read_cb, self._seek_cb, None, _lib.JOIN if join else 0,
                                                     ctypes.byref(status))
            if not self._dec:
                self._raise_pending()
                raise OstrelError(status.value, getattr(self._file, "name", None))
        except BaseException:
            self.close()
            raise
        raw = _lib.Info()
        _check(_lib.lib.ostrel_decoder_info(self._dec, ctypes.byref(raw)))
        tags = []
        key, value = ctypes.c_char_p(), ctypes.c_char_p()
        for i in range(_lib.lib.ostrel_decoder_tag_count(self._dec)):
            _check(_lib.lib.ostrel_decoder_tag_at(self._dec, i, ctypes.byref(key), ctypes.byref(value)))
            tags.append((key.value.decode("utf-8", "replace"), value.value.decode("utf-8", "replace")))
        note = _lib.lib.ostrel_decoder_tag_note(self._dec).decode("utf-8", "replace")
        name = file if isinstance(file, str) else getattr(self._file, "name", None)
        self.info = Info(raw, tags, note, name if isinstance(name, str) else None)

    # The callbacks never let an exception into the library: it is kept and raised after the call.
    def _on_read(self, user, data, size):
        try:
            chunk = self._file.read(size)
            if not chunk:
                return 0
            ctypes.memmove(data, chunk, len(chunk))
            return len(chunk)
        except BaseException as e:
            self._error = e
            return -1

    def _on_seek(self, user, offset):
        try:
            self._file.seek(self._base + offset)
            return 0
        except BaseException as e:
            self._error = e
            return 1

    def _raise_pending(self):
        if self._error is not None:
            e, self._error = self._error, None
            raise e

    def _handle(self):
        if not self._dec:
            raise ValueError("I/O operation on a closed ostrel.Decoder")
        return self._dec

    @property
    def samplerate(self):
        return self.info.samplerate

    @property
    def channels(self):
        return self.info.channels

    @property
    def frames(self):
        """Samples per channel in the stream (0 when a joined stream does not say)."""
        return self.info.frames

    @property
    def tags(self):
        return self.info.tags

    @property
    def damaged_frames(self):
        """Frames decoded so far that were damaged (and played as silence)."""
        return _lib.lib.ostrel_decoder_damaged_frames(self._handle())

    def tell(self):
        return _lib.lib.ostrel_decoder_tell(self._handle())

    def seek(self, sample, whence=os.SEEK_SET):
        """Moves to sample `sample` (per channel); the next read starts exactly there."""
        if whence == os.SEEK_CUR:
            sample += self.tell()
        elif whence == os.SEEK_END:
            sample += self.frames
        if sample < 0:
            raise ValueError("a sample position before the start")
        status = _lib.lib.ostrel_decoder_seek(self._handle(), sample)
        self._raise_pending()
        _check(status, f"seek to sample {sample}")
        return self.tell()

    def read(self, frames=-1, dtype="float32", out=None):
        """Up to `frames` sample frames (all that are left for -1) as an array of shape (n, 2):
        float32 on the scale -1..1, float64, or int16. Fewer (or none) at the end."""
        dtype = np.dtype(dtype)
        if dtype not in (np.float32, np.float64, np.int16):
            raise ValueError(f"dtype must be float32, float64 or int16, not {dtype}")
        native = np.int16 if dtype == np.int16 else np.float32
        reader = _lib.lib.ostrel_decoder_read if native is np.int16 else _lib.lib.ostrel_decoder_read_float
        dec = self._handle()
        if out is not None:
            frames = len(out) if frames < 0 else min(frames, len(out))
        want = frames if frames >= 0 else (max(self.frames - self.tell(), 0) or _BLOCK)
        buf = np.empty((max(want, 1), 2), native)
        got = 0
        while frames < 0 or got < frames:
            if got == len(buf):
                buf = np.concatenate([buf, np.empty((max(len(buf), _BLOCK), 2), native)])
            n = reader(dec, buf[got:].ctypes.data, len(buf) - got)
            self._raise_pending()
            _check(n, "decoding")
            if n == 0:
                break
            got += n
        result = buf[:got].astype(dtype, copy=False)
        if out is not None:
            out[:got] = result
            return out[:got]
        return result

    def blocks(self, blocksize=_BLOCK, dtype="float32"):
        """Yields the rest of the stream in arrays of `blocksize` sample frames (the last shorter)."""
        while True:
            block = self.read(blocksize, dtype)
            if len(block) == 0:
                return
            yield block

    def __iter__(self):
        return self.blocks()

    def close(self):
        if self._dec:
            _lib.lib.ostrel_decoder_destroy(self._dec)
            self._dec = None
        if self._owned and self._file is not None:
            self._file.close()
        self._file = None

    @property
    def closed(self):
        return not self._dec

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if getattr(self, "_dec", None):
            self.close()


def _tag_pairs(tags):
    if not tags:
        return []
    items = tags.items() if hasattr(tags, "items") else tags
    pairs = []
    for key, value in items:
        for v in (value if isinstance(value, (list, tuple)) else [value]):
            pairs.append((str(key), str(v)))
    return pairs


class Encoder:
    """Codes numpy blocks to a path or a binary file object, byte for byte as the ostrelenc
    program does. A path is written under a temporary name and takes its own name only when the
    stream is complete. A seekable output gets the frame count and exact length in its header.
    tags: a dict (a value may be a list) or (key, value) pairs, written in that order."""

    def __init__(self, file, kbps=128, quality=False, tags=None, threads=1):
        self._enc = None
        self._error = None
        self._frames = self._clipped = 0
        self._path = None
        self._tmp = None
        self._file = None
        if isinstance(file, (str, bytes, os.PathLike)):
            self._path = os.fspath(file)
            folder = os.path.dirname(os.path.abspath(self._path))
            fd, self._tmp = tempfile.mkstemp(prefix=".", suffix=".part", dir=folder)
            self._file, self._owned = os.fdopen(fd, "w+b"), True
        else:
            self._file, self._owned = file, False
        try:
            seekable = _seekable(self._file)
            self._base = self._file.tell() if seekable else 0
            self._write_cb = _lib.WRITE_FN(self._on_write)
            self._seek_cb = _lib.SEEK_FN(self._on_seek) if seekable else _lib.SEEK_FN()
            status = ctypes.c_int()
            self._enc = _lib.lib.ostrel_encoder_create(int(kbps), self._write_cb, self._seek_cb, None,
                                                       ctypes.byref(status))
            if not self._enc:
                raise OstrelError(status.value, f"{kbps} kb/s")
            _check(_lib.lib.ostrel_encoder_set_quality(self._enc, 1 if quality else 0))
            _check(_lib.lib.ostrel_encoder_set_threads(self._enc, int(threads)), f"{threads} threads")
            for key, value in _tag_pairs(tags):
                _check(_lib.lib.ostrel_encoder_add_tag(self._enc, key.encode(), value.encode()),
                       f"tag {key}={value[:40]}")
        except BaseException:
            self._abandon()
            raise

    def _on_write(self, user, data, size):
        try:
            self._file.write(ctypes.string_at(data, size))
            return 0
        except BaseException as e:
            self._error = e
            return 1

    def _on_seek(self, user, offset):
        try:
            self._file.seek(self._base + offset)
            return 0
        except BaseException as e:
            self._error = e
            return 1

    def _after(self, status, context):
        if self._error is not None:
            e, self._error = self._error, None
            raise e
        _check(status, context)

    def write(self, data):
        """Codes an array of shape (n, 2) (or (n,) / (n, 1), played on both channels): int16, or
        floats on the scale -1..1 (limited to full scale; `clipped` counts those)."""
        if not self._enc:
            raise ValueError("write to a closed ostrel.Encoder")
        a = np.asarray(data)
        if a.ndim == 1:
            a = a[:, None]
        if a.ndim != 2 or a.shape[1] not in (1, 2):
            raise ValueError(f"samples must have the shape (n, 2), (n, 1) or (n,), not {a.shape}")
        if a.shape[1] == 1:
            a = np.repeat(a, 2, axis=1)
        if a.dtype == np.int16:
            a = np.ascontiguousarray(a)
            fn = _lib.lib.ostrel_encoder_write
        elif a.dtype.kind == "f":
            a = np.ascontiguousarray(a, np.float32)
            fn = _lib.lib.ostrel_encoder_write_float
        else:
            raise TypeError(f"samples must be int16 or floating point, not {a.dtype}")
        if len(a):
            self._after(fn(self._enc, a.ctypes.data, len(a)), "encoding")

    @property
    def frames(self):
        """Frames of the stream written so far."""
        return _lib.lib.ostrel_encoder_frames(self._enc) if self._enc else self._frames

    @property
    def clipped(self):
        """Float samples limited to full scale so far."""
        return _lib.lib.ostrel_encoder_clipped(self._enc) if self._enc else self._clipped

    def close(self):
        """Ends the stream (a path then takes its name). Raises what went wrong, leaving no file."""
        if not self._enc:
            return
        try:
            self._after(_lib.lib.ostrel_encoder_finish(self._enc), "finishing the stream")
            if _seekable(self._file):
                self._file.seek(0, os.SEEK_END)
            self._file.flush()
        except BaseException:
            self._abandon()
            raise
        self._frames = _lib.lib.ostrel_encoder_frames(self._enc)
        self._clipped = _lib.lib.ostrel_encoder_clipped(self._enc)
        _lib.lib.ostrel_encoder_destroy(self._enc)
        self._enc = None
        if self._owned:
            self._file.close()
            os.replace(self._tmp, self._path)
            self._tmp = None

    def _abandon(self):
        """Drops an unfinished stream: its temporary file is removed."""
        if self._enc:
            self._frames = _lib.lib.ostrel_encoder_frames(self._enc)
            self._clipped = _lib.lib.ostrel_encoder_clipped(self._enc)
            _lib.lib.ostrel_encoder_destroy(self._enc)
            self._enc = None
        if self._owned and self._file is not None:
            self._file.close()
        if self._tmp:
            os.unlink(self._tmp)
            self._tmp = None

    @property
    def closed(self):
        return not self._enc

    def __enter__(self):
        return self

    def __exit__(self, exc_type, *exc):
        if exc_type is None:
            self.close()
        else:
            self._abandon()

    def __del__(self):
        if getattr(self, "_enc", None) or getattr(self, "_tmp", None):
            self._abandon()


def read(file, frames=-1, start=0, dtype="float32", join=False):
    """(samples, info): the stream at `file` (a path or a binary file object) as an array of
    shape (n, 2), from sample `start`, `frames` sample frames (-1: to the end)."""
    with Decoder(file, join=join) as dec:
        if start:
            dec.seek(start)
        return dec.read(frames, dtype), dec.info


def info(file):
    """The header's facts and tags of the stream at `file`, without decoding it."""
    with Decoder(file) as dec:
        return dec.info


def write(file, data, kbps=128, quality=False, tags=None, threads=1):
    """Codes `data` (shape (n, 2), int16 or floats on the scale -1..1) to `file`, a path (written
    whole or not at all) or a binary file object."""
    with Encoder(file, kbps=kbps, quality=quality, tags=tags, threads=threads) as enc:
        enc.write(data)
