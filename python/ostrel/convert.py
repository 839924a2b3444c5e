"""Converts a folder tree of audio files to Ostrel streams on a Dask cluster.

    python3 -m ostrel.convert SRC_DIR DST_DIR -b 192 [--scheduler ADDRESS] [--force]

Every file the encoder takes (WAV, FLAC, Ogg Vorbis, AIFF, ...; their tags carried over) becomes
DST_DIR/<same relative path>.ost, coded by the ostrelenc program on a worker, so that each output
is byte for byte the single-machine program's. An output appears under its name only when it is
complete; existing outputs are skipped unless --force, so an interrupted run is resumed by running
it again. A file that fails is reported and the rest go on. Without --scheduler a local cluster
uses this machine's cores; with one, every worker of that cluster takes part (the workers must
see SRC_DIR and DST_DIR at the same paths and have ostrelenc).
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
import uuid

SOURCE_EXTENSIONS = {".wav", ".wave", ".flac", ".ogg", ".oga", ".aif", ".aiff", ".aifc", ".au", ".snd", ".caf",
                     ".w64", ".rf64", ".mp3"}


def plan(src, dst, force=False):
    """(jobs, skipped): the (source, output) pairs to code, and how many outputs already exist."""
    jobs, skipped = [], 0
    for folder, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            stem, ext = os.path.splitext(name)
            if ext.lower() not in SOURCE_EXTENSIONS or name.startswith("."):
                continue
            rel = os.path.relpath(os.path.join(folder, stem + ".ost"), src)
            out = os.path.join(dst, rel)
            if os.path.exists(out) and not force:
                skipped += 1
                continue
            jobs.append((os.path.join(folder, name), out))
    return jobs, skipped


def encode(source, output, kbps, encoder="ostrelenc", extra=()):
    """Codes one file (on a worker): into a temporary name beside the output, renamed when
    complete. Returns (output, None) or (output, what went wrong)."""
    os.makedirs(os.path.dirname(output) or ".", exist_ok=True)
    part = os.path.join(os.path.dirname(output), f".{os.path.basename(output)}.{uuid.uuid4().hex}.part")
    try:
        r = subprocess.run([encoder, "-q", "-b", str(kbps), *extra, source, "-o", part],
                           capture_output=True, text=True)
        if r.returncode != 0:
            return output, (r.stderr.strip() or f"ostrelenc ended with status {r.returncode}")
        os.replace(part, output)
        return output, None
    except OSError as e:
        return output, str(e)
    finally:
        if os.path.exists(part):
            os.unlink(part)


def main(argv=None):
    p = argparse.ArgumentParser(prog="python3 -m ostrel.convert", description=__doc__.split("\n\n")[0])
    p.add_argument("src", metavar="SRC_DIR")
    p.add_argument("dst", metavar="DST_DIR")
    p.add_argument("-b", "--bitrate", type=int, default=128, help="kb/s (96, 112, 128, 160, 192, 256, 392)")
    p.add_argument("--quality", action="store_true", help="the encoder's quality mode")
    p.add_argument("-f", "--force", action="store_true", help="code again files whose output exists")
    p.add_argument("--scheduler", metavar="ADDRESS", help="a Dask scheduler, e.g. tcp://host:8786")
    p.add_argument("--workers", type=int, default=os.cpu_count(), help="local cluster: worker processes")
    p.add_argument("--encoder", default=os.environ.get("OSTREL_ENCODER", "ostrelenc"),
                   help="the ostrelenc program on the workers (default: ostrelenc on their PATH)")
    a = p.parse_args(argv)
    if not os.path.isdir(a.src):
        p.error(f"{a.src} is not a folder")
    if os.path.abspath(a.dst).startswith(os.path.join(os.path.abspath(a.src), "")):
        p.error("DST_DIR must not be inside SRC_DIR")
    if a.scheduler is None and shutil.which(a.encoder) is None:
        p.error(f"{a.encoder} not found (install Ostrel, or give --encoder PATH)")
    try:
        from dask.distributed import Client, LocalCluster, as_completed
    except ImportError:
        p.error("Dask is not installed (Debian package python3-distributed)")

    src, dst = os.path.abspath(a.src), os.path.abspath(a.dst)
    jobs, skipped = plan(src, dst, a.force)
    print(f"{len(jobs)} to convert, {skipped} already there", flush=True)
    if not jobs:
        return 0
    extra = ("--quality",) if a.quality else ()
    start = time.monotonic()
    if a.scheduler:
        client = Client(a.scheduler)
    else:
        client = Client(LocalCluster(n_workers=a.workers, threads_per_worker=1, processes=True,
                                     host="127.0.0.1", dashboard_address=None))
    ready = time.monotonic()
    failed = 0
    with client:
        futures = [client.submit(encode, s, o, a.bitrate, a.encoder, extra, pure=False, key=f"ostrel-{i}-{o}")
                   for i, (s, o) in enumerate(jobs)]
        for future in as_completed(futures):
            try:
                output, problem = future.result()
            except Exception as e:  # the task itself was lost too often (workers dying)
                failed += 1
                print(f"failed: {e}", file=sys.stderr, flush=True)
                continue
            rel = os.path.relpath(output, dst)
            if problem:
                failed += 1
                print(f"failed: {rel}: {problem}", file=sys.stderr, flush=True)
            else:
                print(f"done: {rel}", flush=True)
    end = time.monotonic()
    print(f"{len(jobs) - failed} converted, {failed} failed, {skipped} skipped in {end - start:.1f} s "
          f"({end - ready:.1f} s after the cluster was ready)", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
