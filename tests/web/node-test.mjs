// The WebAssembly package in node against the native programs: a stream fed in odd chunks
// decodes to the native decoder's samples, seeks land on the native sample (also while the
// stream is still arriving), the encoder fed float blocks writes the native encoder's bytes, a
// foreign file is refused with the library's text, and the package installs with npm into an
// empty folder and decodes there.
// Usage: node node-test.mjs PACKAGE_DIR PROGRAM_DIR SCRATCH_DIR
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { firstDifference, nativeFiles, wavSamples } from './common.mjs';

const [pkg, bin, scratch] = process.argv.slice(2).map((p) => resolve(p));
rmSync(scratch, { recursive: true, force: true });
mkdirSync(scratch, { recursive: true });
const { loadOstrel, OstrelError } = await import(pathToFileURL(join(pkg, 'ostrel.mjs')).href);
const ostrel = await loadOstrel();

// 96 kb/s has the long frames, 392 the short ones; 2.3 s is no whole number of frames.
for (const kbps of [96, 392]) {
  const native = nativeFiles(bin, scratch, kbps, 2.3);
  const stream = new Uint8Array(readFileSync(native.ost));

  // Chunks of 1000 bytes, reading what has arrived after each, a seek back to the start half-way.
  const dec = new ostrel.Decoder();
  const got = [];
  let seekChecked = false;
  for (let at = 0; at < stream.length; at += 1000) {
    dec.push(stream.subarray(at, at + 1000));
    got.push(dec.readInt16());
    if (!seekChecked && dec.tell() > 20000) {
      const here = dec.tell();
      const back = 12345;
      dec.seek(back);
      assert.equal(firstDifference(dec.readInt16(100), native.samples.subarray(2 * back, 2 * back + 200)), -1,
                   `${kbps} kb/s: a seek while the stream arrives`);
      assert.equal(dec.canSeek(here + 3 * dec.info.samplesPerFrame), false);
      dec.seek(here);
      seekChecked = true;
    }
  }
  dec.end();
  got.push(dec.readInt16());
  const samples = new Int16Array(got.reduce((n, a) => n + a.length, 0));
  got.reduce((at, a) => (samples.set(a, at), at + a.length), 0);
  assert.ok(seekChecked);
  assert.equal(dec.info.kbps, kbps);
  assert.equal(dec.info.samples, native.samples.length / 2);
  assert.equal(firstDifference(samples, native.samples), -1, `${kbps} kb/s: streamed samples`);

  // Exact seeks in the whole stream; the floats are the 16-bit samples before rounding.
  for (const to of [0, 1, dec.info.samplesPerFrame - dec.info.delay, 77777, dec.info.samples - 5]) {
    dec.seek(to);
    assert.equal(dec.tell(), to);
    assert.equal(firstDifference(dec.readInt16(5), native.samples.subarray(2 * to, 2 * to + 10)), -1,
                 `${kbps} kb/s: seek to ${to}`);
    dec.seek(to);
    const scaled = (v) => Math.max(-32768, Math.min(32767, v * 32768));
    dec.read(5).forEach((v, i) => assert.ok(Math.abs(scaled(v) - native.samples[2 * to + i]) <= 1));
  }
  dec.seek(dec.info.samples);
  assert.equal(dec.read().length, 0);
  dec.close();

  // The encoder fed float blocks of uneven sizes writes the native bytes.
  const source = wavSamples(native.wav);
  const enc = new ostrel.Encoder(kbps);
  for (let at = 0, block = 999; at < source.length; at += 2 * block, block = block * 3 % 5000 + 1) {
    enc.write(Float32Array.from(source.subarray(at, at + 2 * block), (v) => v / 32768));
  }
  const bytes = enc.finish();
  enc.close();
  assert.equal(firstDifference(bytes, stream), -1, `${kbps} kb/s: encoded bytes`);
  assert.equal(firstDifference(ostrel.encode(source, kbps), stream), -1, `${kbps} kb/s: 16-bit samples encoded`);
}

// Tags in and out; a foreign file and a bad rate are refused with the library's text.
const tagged = ostrel.decode(ostrel.encode(new Float32Array(2000), 128, { tags: { title: 'Zoë', artist: 'A' } }));
assert.equal(tagged.info.title, 'Zoë');
assert.equal(tagged.info.author, 'A');
assert.equal(Number(tagged.tags.find(([k]) => k === 'LENGTH')[1]), 1000);
assert.equal(tagged.info.samples, 1000);
assert.equal(tagged.samples.length, 2000);
assert.throws(() => new ostrel.Decoder().push(new TextEncoder().encode('RIFF....WAVEfmt '.repeat(8))),
              (e) => e instanceof OstrelError && e.message === ostrel.strerror(-7) && e.status === -7);
assert.throws(() => new ostrel.Encoder(100), (e) => e instanceof OstrelError && e.status === -2);

// The package installs with npm into an empty folder and decodes a file there.
const packed = execFileSync('npm', ['pack', '--silent', '--pack-destination', scratch, pkg], { encoding: 'utf8' }).trim();
const app = join(scratch, 'app');
mkdirSync(app);
execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', '--silent', join(scratch, packed.split('\n').pop())],
             { cwd: app, stdio: 'inherit' });
writeFileSync(join(app, 'decode.mjs'), `
import { readFileSync } from 'node:fs';
import { loadOstrel } from 'ostrel';
const ostrel = await loadOstrel();
const dec = new ostrel.Decoder();
dec.push(readFileSync(process.argv[2]));
dec.end();
const info = dec.info;
const samples = dec.readInt16();
process.stdout.write(JSON.stringify({ kbps: info.kbps, samples: Buffer.from(samples.buffer).toString('base64') }));
`);
const out = JSON.parse(execFileSync('node', ['decode.mjs', join(scratch, 'native-96.ost')], { cwd: app, encoding: 'utf8' }));
const installed = new Int16Array(new Uint8Array(Buffer.from(out.samples, 'base64')).buffer);
assert.equal(out.kbps, 96);
assert.equal(firstDifference(installed, nativeFiles(bin, scratch, 96, 2.3).samples), -1, 'the installed package');
console.log('web package in node: all checks passed');
