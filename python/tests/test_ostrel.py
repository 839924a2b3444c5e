import io

import numpy as np
import pytest

import ostrel
from conftest import program, read_wav, write_wav

TAGS = [("TITLE", "Grüße aus Köln"), ("ARTIST", "Ensemble"), ("GENRE", "Folk"), ("GENRE", "Live")]


def test_encoding_is_the_programs_byte_for_byte(tmp_path, source):
    write_wav(tmp_path / "in.wav", source)
    args = [a for k, v in TAGS for a in ("--tag", f"{k}={v}")]
    program("ostrelenc", "-q", "-b", 192, *args, tmp_path / "in.wav", "-o", tmp_path / "cli.ost")
    expected = (tmp_path / "cli.ost").read_bytes()

    ostrel.write(tmp_path / "py.ost", source, kbps=192, tags=TAGS)
    assert (tmp_path / "py.ost").read_bytes() == expected

    # Streaming, odd blocks, floats, into a file object that already holds something.
    out = io.BytesIO(b"prefix")
    out.seek(6)
    with ostrel.Encoder(out, kbps=192, tags={"TITLE": TAGS[0][1], "ARTIST": "Ensemble", "GENRE": ["Folk", "Live"]},
                        threads=2) as enc:
        for start in range(0, len(source), 3001):
            enc.write(source[start:start + 3001].astype(np.float32) / 32768)
    assert enc.clipped == 0
    assert out.getvalue() == b"prefix" + expected


def test_decoding_is_the_programs_sample_for_sample(tmp_path, source):
    write_wav(tmp_path / "in.wav", source)
    program("ostrelenc", "-q", "-b", 128, tmp_path / "in.wav", "-o", tmp_path / "a.ost")
    program("ostreldec", "-q", "-f", tmp_path / "a.ost", "-o", tmp_path / "a.wav")
    expected = read_wav(tmp_path / "a.wav")

    data, info = ostrel.read(tmp_path / "a.ost", dtype="int16")
    assert data.dtype == np.int16 and data.shape == source.shape == expected.shape
    np.testing.assert_array_equal(data, expected)
    assert (info.samplerate, info.channels, info.kbps, info.frames) == (44100, 2, 128, len(source))
    assert info.duration == pytest.approx(len(source) / 44100)

    floats, _ = ostrel.read(tmp_path / "a.ost")
    assert floats.dtype == np.float32
    np.testing.assert_allclose(floats * 32768, expected, atol=1)

    # A seek lands on the exact sample; a file object that cannot seek streams the same samples.
    part, _ = ostrel.read(tmp_path / "a.ost", start=40000, frames=5000, dtype="int16")
    np.testing.assert_array_equal(part, expected[40000:45000])

    class Pipe(io.RawIOBase):
        def __init__(self, data):
            self._data = io.BytesIO(data)

        def readable(self):
            return True

        def readinto(self, b):
            return self._data.readinto(b)

    with ostrel.Decoder(io.BufferedReader(Pipe((tmp_path / "a.ost").read_bytes()))) as dec:
        blocks = list(dec.blocks(7777, dtype="int16"))
        with pytest.raises(ostrel.OstrelError) as e:
            dec.seek(0)
        assert e.value.status == -4
    np.testing.assert_array_equal(np.concatenate(blocks), expected)


def test_tags_and_exact_length_round_trip(tmp_path, source):
    short = source[:5000]
    ostrel.write(tmp_path / "t.ost", short, kbps=96, tags=TAGS)
    info = ostrel.info(tmp_path / "t.ost")
    assert [t for t in info.tags if t[0] not in ("LENGTH", "ENCODER")] == TAGS
    assert int(info.tag("length")) == 5000 and info.frames == 5000
    assert info.title == TAGS[0][1] and info.artist == "Ensemble" and info.tag_note == ""
    assert info.tag("ENCODER").startswith("libostrel ")
    assert len(ostrel.read(tmp_path / "t.ost")[0]) == 5000


def test_errors_carry_the_librarys_status_and_leave_no_file(tmp_path, source):
    (tmp_path / "x.wav").write_bytes(b"RIFF" + bytes(100))
    with pytest.raises(ostrel.OstrelError, match="not an Ostrel stream") as e:
        ostrel.read(tmp_path / "x.wav")
    assert e.value.status == -7

    with pytest.raises(ostrel.OstrelError) as e:
        ostrel.write(tmp_path / "bad.ost", source, kbps=100)
    assert e.value.status == -2
    with pytest.raises(ostrel.OstrelError) as e:
        ostrel.write(tmp_path / "bad.ost", source, tags={"LENGTH": "1"})
    assert e.value.status == -3
    with pytest.raises(ValueError):
        ostrel.write(tmp_path / "bad.ost", np.zeros((10, 3), np.int16))
    assert sorted(p.name for p in tmp_path.iterdir()) == ["x.wav"]

    class Full(io.BytesIO):
        def write(self, b):
            raise OSError(28, "No space left on device")

    with pytest.raises(OSError, match="No space"):
        ostrel.write(Full(), source)

    # A truncated stream decodes what it holds; a damaged frame plays as silence and is counted.
    ostrel.write(tmp_path / "d.ost", source, kbps=128)
    raw = bytearray((tmp_path / "d.ost").read_bytes())
    info = ostrel.info(tmp_path / "d.ost")
    hit = info.header_bytes + info.frame_bytes * 3
    raw[hit:hit + 4] = b"\0\0\0\0"
    with ostrel.Decoder(io.BytesIO(bytes(raw))) as dec:
        data = dec.read(dtype="int16")
        assert dec.damaged_frames == 1 and len(data) == len(source)
