// Decoding and encoding speed of the WebAssembly package in node, as multiples of real time,
// beside the native programs on the same generated 60-second file (best of RUNS runs each).
// Usage: node bench/web-speed.mjs BUILD_DIR WEB_PACKAGE_DIR [RUNS]
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { wavSamples } from '../tests/web/common.mjs';

const [build, pkg] = process.argv.slice(2, 4).map((p) => resolve(p));
const runs = Number(process.argv[4] ?? 5);
const SECONDS = 60;
const work = mkdtempSync(join(tmpdir(), 'ostrel-web-speed.'));
try {
  const wav = join(work, 'source.wav');
  const ost = join(work, 'source.ost');
  execFileSync(join(build, 'ostrelgen'), [wav, String(SECONDS)], { stdio: 'ignore' });
  execFileSync(join(build, 'ostrelenc'), ['-b', '128', wav, '-o', ost], { stdio: 'ignore' });
  const best = (fn) => {
    let t = Infinity;
    for (let i = 0; i < runs; ++i) {
      const start = process.hrtime.bigint();
      fn();
      t = Math.min(t, Number(process.hrtime.bigint() - start) / 1e9);
    }
    return t;
  };
  const { loadOstrel } = await import(pathToFileURL(join(pkg, 'ostrel.mjs')).href);
  const ostrel = await loadOstrel();
  const bytes = readFileSync(ost);
  const floats = Float32Array.from(wavSamples(wav), (v) => v / 32768);
  const rows = [
    ['decode, WebAssembly in node', best(() => ostrel.decode(bytes))],
    ['decode, native ostreldec', best(() => execFileSync(join(build, 'ostreldec'), ['-f', '-q', ost, '-o', join(work, 'out.wav')]))],
    ['encode 128 kb/s, WebAssembly in node', best(() => ostrel.encode(floats, 128))],
    ['encode 128 kb/s, native ostrelenc', best(() => execFileSync(join(build, 'ostrelenc'), ['-f', '-b', '128', wav, '-o', join(work, 'n.ost')]))],
  ];
  for (const [name, t] of rows) console.log(`${name.padEnd(40)} ${t.toFixed(3)} s  ${(SECONDS / t).toFixed(1)}x real time`);
} finally {
  rmSync(work, { recursive: true, force: true });
}
