// What the node and browser tests of the WebAssembly package share: the native programs run on
// generated files, and a WAV reader.
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';

// The 16-bit samples of a WAV file (its data chunk, wherever it stands), interleaved.
export function wavSamples(path) {
  const b = readFileSync(path);
  let at = 12;
  while (at + 8 <= b.length) {
    const id = b.toString('latin1', at, at + 4);
    const size = b.readUInt32LE(at + 4);
    if (id === 'data') {
      const n = Math.min(size, b.length - at - 8) >> 1;
      const out = new Int16Array(n);
      for (let i = 0; i < n; ++i) out[i] = b.readInt16LE(at + 8 + 2 * i);
      return out;
    }
    at += 8 + size + (size & 1);
  }
  throw new Error(`${path}: no data chunk`);
}

// Generates a source, encodes it at `kbps` and decodes it with the native programs in `dir`.
// `tags` are more ostrelenc options. Returns the paths and the native decoder's samples.
export function nativeFiles(bin, dir, kbps, seconds, tags = []) {
  const wav = join(dir, `source-${kbps}.wav`);
  const ost = join(dir, `native-${kbps}.ost`);
  const out = join(dir, `native-${kbps}.wav`);
  const run = (program, args) => execFileSync(join(bin, program), args, { stdio: ['ignore', 'ignore', 'inherit'] });
  run('ostrelgen', [wav, String(seconds)]);
  run('ostrelenc', ['-f', '-b', String(kbps), ...tags, wav, '-o', ost]);
  run('ostreldec', ['-f', '-q', ost, '-o', out]);
  return { wav, ost, samples: wavSamples(out) };
}

// The first index where two arrays differ, or -1.
export function firstDifference(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; ++i) if (a[i] !== b[i]) return i;
  return a.length === b.length ? -1 : n;
}
