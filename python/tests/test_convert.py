import os
import signal
import subprocess
import sys

import pytest

from conftest import BUILD, program, signal as make_signal, write_wav

distributed = pytest.importorskip("distributed", reason="Dask is not installed (Debian package python3-distributed)")


def convert(*args):
    return subprocess.Popen([sys.executable, "-m", "ostrel.convert", *map(str, args)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def test_a_tree_on_two_workers_equals_the_program_and_survives_a_killed_worker(tmp_path):
    src, dst, ref = tmp_path / "src", tmp_path / "dst", tmp_path / "ref"
    names = [f"{d}/track{i}.wav" for d in ("a", "b/c") for i in range(3)]
    for i, name in enumerate(names):
        (src / name).parent.mkdir(parents=True, exist_ok=True)
        write_wav(src / name, make_signal(20000 + 777 * i, seed=i))
        (ref / name).parent.mkdir(parents=True, exist_ok=True)
        program("ostrelenc", "-q", "-b", 192, src / name, "-o", (ref / name).with_suffix(".ost"))
    (src / "a" / "broken.wav").write_bytes(b"RIFF\x10\0\0\0WAVEjunk")
    (src / "a" / "notes.txt").write_text("not audio")
    slow = tmp_path / "slowenc"
    slow.write_text(f'#!/bin/sh\nsleep 1\nexec "{os.path.join(BUILD, "ostrelenc")}" "$@"\n')
    slow.chmod(0o755)

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        run = convert(src, dst, "-b", 192, "--scheduler", cluster.scheduler_address, "--encoder", slow)
        assert run.stdout.readline().startswith("7 to convert")
        assert run.stdout.readline().startswith("done: ")
        victim = next(iter(client.run(os.getpid).values()))
        os.kill(victim, signal.SIGKILL)
        out, err = run.communicate(timeout=120)
    assert run.returncode == 1 and "failed: a/broken.ost" in err and err.count("failed:") == 1, err

    made = sorted(str(p.relative_to(dst)) for p in dst.rglob("*.ost"))
    assert made == sorted(n[:-4] + ".ost" for n in names)
    for name in made:
        assert (dst / name).read_bytes() == (ref / name).read_bytes(), name

    # Run again (the broken source mended by removing it), nothing is left to do.
    (src / "a" / "broken.wav").unlink()
    stamps = {p: p.stat().st_mtime_ns for p in dst.rglob("*.ost")}
    again = convert(src, dst, "-b", 192, "--encoder", os.path.join(BUILD, "ostrelenc"))
    out, err = again.communicate(timeout=60)
    assert again.returncode == 0 and out == "0 to convert, 6 already there\n", err
    assert stamps == {p: p.stat().st_mtime_ns for p in dst.rglob("*.ost")}
