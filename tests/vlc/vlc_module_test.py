"""The VLC module end to end: cvlc (as an unprivileged user: VLC refuses root) plays generated
streams to its file audio output, which must hold ostreldec's samples: a whole stream, one started
at a sample position, and one with a damaged frame (silence there, the run going on).
Usage: vlc_module_test.py BUILD_DIR"""
import os
import shutil
import subprocess
import sys
import tempfile
import wave

build = os.path.abspath(sys.argv[1])
work = tempfile.mkdtemp(prefix="ostrel-vlc-")
os.chmod(work, 0o777)


def run(*args, **kw):
    return subprocess.run([str(a) for a in args], check=True, capture_output=True, **kw)


def samples(path):
    with wave.open(path, "rb") as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (2, 2, 44100), path
        return w.readframes(w.getnframes())


def play(stream, *options):
    out = os.path.join(work, "vlc.wav")
    if os.path.exists(out):
        os.unlink(out)
    user = ["runuser", "-u", "nobody", "--"] if os.geteuid() == 0 else []
    env = dict(os.environ, VLC_PLUGIN_PATH=os.path.join(build, "vlc"), HOME=work)
    r = subprocess.run(user + ["cvlc", "-I", "dummy", "--no-video", "--play-and-exit", "--no-audio-time-stretch",
                               "--aout", "afile", "--audiofile-file", out, "--audiofile-format", "s16",
                               "--audiofile-channels", "2", "--audiofile-wav", *options, stream],
                       env=env, capture_output=True, text=True, timeout=120)
    if not os.path.exists(out):
        sys.exit(f"cvlc wrote no output (exit {r.returncode}):\n{r.stderr[-3000:]}")
    return samples(out)


def same(name, got, want):
    if got != want:
        n = min(len(got), len(want))
        first = next((i for i in range(n) if got[i] != want[i]), n) // 4
        sys.exit(f"{name}: VLC gave {len(got) // 4} samples, ostreldec {len(want) // 4}; they differ from "
                 f"sample {first}")
    print(f"{name}: {len(got) // 4} samples, equal to ostreldec's")


try:
    if shutil.which("cvlc") is None:
        print("skipped: cvlc not found (Debian packages vlc-bin vlc-plugin-base)")
        sys.exit(77)
    src, ost = os.path.join(work, "src.wav"), os.path.join(work, "a.ost")
    run(os.path.join(build, "ostrelgen"), src, 3)
    run(os.path.join(build, "ostrelenc"), "-q", "-b", 128, "--tag", "TITLE=Probe", src, "-o", ost)
    run(os.path.join(build, "ostreldec"), "-q", "-f", ost, "-o", os.path.join(work, "ref.wav"))
    ref = samples(os.path.join(work, "ref.wav"))
    same("whole stream", play(ost), ref)

    # 1.5 s is sample 66150 exactly.
    same("started at 1.5 s", play(ost, "--start-time=1.5"), ref[66150 * 4:])

    data = bytearray(open(ost, "rb").read())
    hit = len(data) // 2
    data[hit:hit + 64] = bytes(64)
    bad = os.path.join(work, "bad.ost")
    open(bad, "wb").write(bytes(data))
    # ostreldec reports the damage in its exit status, and still writes every sample.
    subprocess.run([os.path.join(build, "ostreldec"), "-q", "-f", bad, "-o", os.path.join(work, "bad.wav")],
                   capture_output=True)
    bad_ref = samples(os.path.join(work, "bad.wav"))
    assert len(bad_ref) == len(ref) and bytes(4096 * 4) in bad_ref and bad_ref[-4096 * 4:] == ref[-4096 * 4:]
    same("a damaged frame", play(bad), bad_ref)
finally:
    shutil.rmtree(work, ignore_errors=True)
