"""The C interface of libostrel, reached through ctypes.

The library is looked for, in order: the file named by the environment variable OSTREL_LIBRARY,
the path `make install` recorded next to this module, and the system's loader (ldconfig).
"""
import ctypes
import ctypes.util
import os

OK = 0
ERR_ARGUMENT = -1
ERR_BITRATE = -2
ERR_TAG = -3
ERR_STATE = -4
ERR_WRITE = -5
ERR_SEEK = -6
ERR_NOT_OSTREL = -7
ERR_TRUNCATED = -8
ERR_UNSUPPORTED = -9
ERR_DAMAGED = -10
ERR_MEMORY = -11
ERR_INTERNAL = -12
ERR_READ = -13
ERR_FRAME_VALUE = -14
ERR_STOPPED = -15
JOIN = 1


class Info(ctypes.Structure):
    _fields_ = [
        ("kbps", ctypes.c_int),
        ("sample_rate", ctypes.c_int),
        ("channels", ctypes.c_int),
        ("frames", ctypes.c_uint32),
        ("samples", ctypes.c_uint64),
        ("frame_bytes", ctypes.c_uint32),
        ("samples_per_frame", ctypes.c_uint32),
        ("delay", ctypes.c_uint32),
        ("header_bytes", ctypes.c_uint64),
        ("title", ctypes.c_char_p),
        ("author", ctypes.c_char_p),
        ("comment", ctypes.c_char_p),
    ]


WRITE_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
SEEK_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_uint64)
INPUT_FN = ctypes.CFUNCTYPE(ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)


def _candidates():
    env = os.environ.get("OSTREL_LIBRARY")
    if env:
        yield env
        return
    try:
        from . import _installed  # written by `make install`
        yield _installed.LIBRARY
    except ImportError:
        pass
    found = ctypes.util.find_library("ostrel")
    if found:
        yield found
    yield "libostrel.so.1"


def _load():
    errors = []
    for name in _candidates():
        try:
            return ctypes.CDLL(name)
        except OSError as e:
            errors.append(str(e))
    raise ImportError("libostrel not found (set OSTREL_LIBRARY to its path, or install it with `make install` "
                      "and run ldconfig): " + "; ".join(errors))


lib = _load()

_P = ctypes.c_void_p
_SIGNATURES = {
    "ostrel_strerror": (ctypes.c_char_p, [ctypes.c_int]),
    "ostrel_version": (ctypes.c_char_p, []),
    "ostrel_bitrates": (ctypes.POINTER(ctypes.c_int), [ctypes.POINTER(ctypes.c_int)]),
    "ostrel_encoder_create": (_P, [ctypes.c_int, WRITE_FN, SEEK_FN, _P, ctypes.POINTER(ctypes.c_int)]),
    "ostrel_encoder_add_tag": (ctypes.c_int, [_P, ctypes.c_char_p, ctypes.c_char_p]),
    "ostrel_encoder_set_quality": (ctypes.c_int, [_P, ctypes.c_int]),
    "ostrel_encoder_set_threads": (ctypes.c_int, [_P, ctypes.c_int]),
    "ostrel_encoder_write": (ctypes.c_int, [_P, _P, ctypes.c_size_t]),
    "ostrel_encoder_write_float": (ctypes.c_int, [_P, _P, ctypes.c_size_t]),
    "ostrel_encoder_finish": (ctypes.c_int, [_P]),
    "ostrel_encoder_frames": (ctypes.c_uint32, [_P]),
    "ostrel_encoder_clipped": (ctypes.c_uint64, [_P]),
    "ostrel_encoder_destroy": (None, [_P]),
    "ostrel_decoder_open": (_P, [INPUT_FN, SEEK_FN, _P, ctypes.c_int, ctypes.POINTER(ctypes.c_int)]),
    "ostrel_decoder_info": (ctypes.c_int, [_P, ctypes.POINTER(Info)]),
    "ostrel_decoder_tag_count": (ctypes.c_int, [_P]),
    "ostrel_decoder_tag_at": (ctypes.c_int, [_P, ctypes.c_int, ctypes.POINTER(ctypes.c_char_p),
                                             ctypes.POINTER(ctypes.c_char_p)]),
    "ostrel_decoder_tag_note": (ctypes.c_char_p, [_P]),
    "ostrel_decoder_read": (ctypes.c_long, [_P, _P, ctypes.c_size_t]),
    "ostrel_decoder_read_float": (ctypes.c_long, [_P, _P, ctypes.c_size_t]),
    "ostrel_decoder_seek": (ctypes.c_int, [_P, ctypes.c_uint64]),
    "ostrel_decoder_tell": (ctypes.c_uint64, [_P]),
    "ostrel_decoder_frames_decoded": (ctypes.c_uint32, [_P]),
    "ostrel_decoder_damaged_frames": (ctypes.c_int, [_P]),
    "ostrel_decoder_destroy": (None, [_P]),
}
for _name, (_res, _args) in _SIGNATURES.items():
    _f = getattr(lib, _name)
    _f.restype = _res
    _f.argtypes = _args


def strerror(status):
    return lib.ostrel_strerror(status).decode("utf-8", "replace")


def version():
    return lib.ostrel_version().decode()


def bitrates():
    n = ctypes.c_int()
    p = lib.ostrel_bitrates(ctypes.byref(n))
    return tuple(p[i] for i in range(n.value))
