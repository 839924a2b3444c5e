// The player page in Debian's headless Chromium, served from 127.0.0.1: the package decodes the
// native decoder's samples there, the page opens a stream by URL and shows its facts, a seek lands
// on the native sample, playback time advances, a foreign file gets the message; a screenshot of
// the page is left in SCRATCH_DIR/player.png. A WAV given to the page is encoded to ostrelenc's bytes.
// Usage: node browser-test.mjs WEB_SOURCE_DIR PACKAGE_DIR PROGRAM_DIR SCRATCH_DIR
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { existsSync, mkdirSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join, normalize, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { firstDifference, nativeFiles } from './common.mjs';

const [webDir, pkg, bin, scratch] = process.argv.slice(2).map((p) => resolve(p));
const here = fileURLToPath(new URL('.', import.meta.url));
let puppeteer;
try {
  puppeteer = createRequire(join(here, 'package.json'))('puppeteer-core');
} catch {
  console.log('skipped: puppeteer-core is not installed; make web installs it');
  process.exit(77);
}
rmSync(scratch, { recursive: true, force: true });
mkdirSync(scratch, { recursive: true });
const native = nativeFiles(bin, scratch, 128, 3.5, ['--title', 'Tones, a sweep, noise and clicks', '--artist', 'ostrelgen']);

// web/ first, then the built package (the .wasm and its loader), the test's files under /test/.
const TYPES = { '.html': 'text/html', '.mjs': 'text/javascript', '.wasm': 'application/wasm' };
const server = createServer((req, res) => {
  const path = normalize(decodeURIComponent(new URL(req.url, 'http://x').pathname));
  const roots = path.startsWith('/test/') ? [[scratch, path.slice(6)]] : [[webDir, path], [pkg, path]];
  for (const [root, rel] of roots) {
    const file = join(root, rel);
    if (file.startsWith(root) && existsSync(file)) {
      res.writeHead(200, { 'content-type': TYPES[extname(file)] ?? 'application/octet-stream' });
      return res.end(readFileSync(file));
    }
  }
  res.writeHead(404).end();
});
await new Promise((r) => server.listen(0, '127.0.0.1', r));
const origin = `http://127.0.0.1:${server.address().port}`;

const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
         '--disable-sync', '--no-first-run', '--autoplay-policy=no-user-gesture-required'],
});
try {
  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (e) => problems.push(e.message));
  page.on('console', (m) => m.type() === 'error' && problems.push(m.text()));
  // Waits for `fn` in the page; a timeout says what the page showed.
  const until = async (fn, what) => {
    try {
      await page.waitForFunction(fn, { timeout: 20000 });
    } catch {
      const shown = await page.$eval('#message', (el) => el.textContent);
      assert.fail(`${what}: the page shows "${shown}"; errors: ${problems.join('; ')}`);
    }
  };
  await page.setViewport({ width: 760, height: 720 });
  await page.goto(`${origin}/player.html`);
  await page.waitForFunction(() => document.documentElement.dataset.ready === 'yes');

  // The package in the browser gives the native samples.
  const decoded = await page.evaluate(async (url) => {
    const dec = new window.ostrel.Decoder();
    dec.push(new Uint8Array(await (await fetch(url)).arrayBuffer()));
    dec.end();
    return Array.from(dec.readInt16());
  }, '/test/native-128.ost');
  assert.equal(firstDifference(Int16Array.from(decoded), native.samples), -1, 'samples in the browser');

  // The page opens the stream by URL and shows its facts.
  const open = async (url) => {
    await page.$eval('#url', (el, u) => { el.value = u; }, url);
    await page.click('#url-form button');
  };
  await open(`${origin}/test/native-128.ost`);
  await until(() => /ready/.test(document.getElementById('message').textContent), 'opening by URL');
  assert.equal(await page.$eval('#title', (el) => el.textContent), 'Tones, a sweep, noise and clicks');
  assert.equal(await page.$eval('#artist', (el) => el.textContent), 'ostrelgen');
  assert.equal(await page.$eval('#rate', (el) => el.textContent), '128 kb/s, 44100 Hz stereo');
  assert.equal(await page.$eval('#duration', (el) => el.textContent), '0:03.500');

  // A seek lands on the sample, paused and while playing.
  const at = 54321;
  const afterSeek = await page.evaluate((s) => {
    window.ostrelPlayer.seek(s);
    return Array.from(window.ostrelPlayer.decoder.readInt16(8));
  }, at);
  assert.equal(firstDifference(Int16Array.from(afterSeek), native.samples.subarray(2 * at, 2 * at + 16)), -1, 'seek');
  await page.evaluate(() => document.activeElement.blur());
  await page.keyboard.press('Space');
  await until(() => window.ostrelPlayer.playing, 'Space plays');
  const before = await page.evaluate(() => window.ostrelPlayer.current());
  await new Promise((r) => setTimeout(r, 1200));
  const after = await page.evaluate(() => ({ at: window.ostrelPlayer.current(), time: document.getElementById('time').textContent }));
  assert.ok(after.at > before + 0.5 * 44100, `playback advances (${before} -> ${after.at})`);
  await page.screenshot({ path: join(scratch, 'player.png') });
  const first = await page.evaluate((s) => {
    window.ostrelPlayer.seek(s);
    const block = window.ostrelPlayer.blocks[0];
    return { sample: block.sample, first: Array.from(block.first) };
  }, 100000);
  assert.equal(first.sample, 100000);
  const scaled = (v) => Math.max(-32768, Math.min(32767, v * 32768));
  first.first.forEach((v, i) => assert.ok(Math.abs(scaled(v) - native.samples[200000 + i]) <= 1, 'seek while playing'));

  // A file that is not a stream gets the message.
  await open(`${origin}/test/source-128.wav`);
  await until(() => document.getElementById('message').className === 'error', 'a foreign file');
  const message = await page.$eval('#message', (el) => el.textContent);
  assert.match(message, /^source-128\.wav is not a stream this player can play: not an Ostrel stream/);

  // A WAV given to the page is encoded: the download holds ostrelenc's bytes (the file's name as
  // the title).
  await page.select('#kbps', '192');
  await (await page.$('#file')).uploadFile(native.wav);
  await until(() => !document.getElementById('download').hidden, 'encoding a WAV');
  const encoded = await page.evaluate(async () => {
    const link = document.getElementById('download');
    return { name: link.download, bytes: Array.from(new Uint8Array(await (await fetch(link.href)).arrayBuffer())) };
  });
  const expected = join(scratch, 'titled-192.ost');
  execFileSync(join(bin, 'ostrelenc'), ['-f', '-b', '192', '--title', 'source-128', native.wav, '-o', expected],
               { stdio: 'ignore' });
  assert.equal(encoded.name, 'source-128.ost');
  assert.equal(firstDifference(Uint8Array.from(encoded.bytes), readFileSync(expected)), -1, 'the page encodes');
  assert.deepEqual(problems, []);
  console.log('player page in headless Chromium: all checks passed; screenshot', join(scratch, 'player.png'));
} finally {
  await browser.close();
  server.close();
}
