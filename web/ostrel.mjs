// The Ostrel codec for JavaScript, in the browser and in node: a decoder fed with chunks as they
// arrive (from fetch, a file, a socket), an encoder fed with Float32Array blocks, the stream's
// facts and tags. Samples are sample frames of interleaved stereo (left, right, left, ...); a
// position or a length in samples counts sample frames (samples per channel). Every failure is
// an OstrelError whose message is the library's own text for its status.
import createOstrelCore from './ostrel-core.mjs';

/** A failure of the codec; `status` is the library's (negative) status code. */
export class OstrelError extends Error {
  constructor(status, message) {
    super(message);
    this.name = 'OstrelError';
    this.status = status;
  }
}

// Facts of ow_dec_fact, by number.
const FACTS = ['kbps', 'sampleRate', 'channels', 'frames', 'samples', 'frameBytes', 'samplesPerFrame', 'delay',
               'headerBytes'];
// Samples read per call into the wasm memory when the caller does not say.
const READ_BLOCK = 16384;

/**
 * Loads the WebAssembly module and returns the API bound to it. `options` go to the emscripten
 * module (e.g. `locateFile` when the .wasm is served from elsewhere).
 */
export async function loadOstrel(options = {}) {
  if (typeof process === 'object' && process.versions?.node && !options.wasmBinary) {
    const { readFile } = await import('node:fs/promises');
    options = { ...options, wasmBinary: await readFile(new URL('./ostrel-core.wasm', import.meta.url)) };
  }
  const m = await createOstrelCore(options);
  const text = (status) => m.UTF8ToString(m._ostrel_strerror(status));
  const fail = (status) => {
    throw new OstrelError(status, text(status));
  };
  const check = (status) => (status < 0 ? fail(status) : status);

  // A zero-terminated copy of `s` in the wasm memory, released by the caller with m._free.
  const cString = (s) => {
    const size = m.lengthBytesUTF8(s) + 1;
    const p = m._malloc(size);
    m.stringToUTF8(s, p, size);
    return p;
  };
  const bytesToString = (p, n) => new TextDecoder().decode(m.HEAPU8.subarray(p, p + n));

  const bitrates = (() => {
    const count = m._malloc(4);
    const p = m._ostrel_bitrates(count);
    const list = Array.from(m.HEAP32.subarray(p >> 2, (p >> 2) + m.HEAP32[count >> 2]));
    m._free(count);
    return list;
  })();

  /**
   * A decoder of a stream that arrives in chunks. push() each chunk as it comes and end() after
   * the last; `info` is null until the header is in. read() gives the samples whose frames have
   * arrived, exactly those of the native decoder; seek() goes to any sample that has arrived.
   */
  class Decoder {
    constructor() {
      this._h = m._ow_dec_new();
      if (this._h === 0) fail(-11);
      this.info = null;
      this.tags = [];
      this._ended = false;
    }

    /** Adds the next bytes of the stream (Uint8Array or ArrayBuffer). True once the header is in. */
    push(chunk) {
      const bytes = chunk instanceof Uint8Array ? chunk : new Uint8Array(chunk);
      this._live();
      if (bytes.length > 0) {
        const p = m._ow_dec_append(this._h, bytes.length);
        if (p === 0) fail(-11);
        m.HEAPU8.set(bytes, p);
      }
      return this._open();
    }

    /** Says that no more bytes will come: the rest of the stream can be read. */
    end() {
      this._live();
      this._ended = true;
      m._ow_dec_end(this._h);
      if (!this._open()) fail(-8);
    }

    _live() {
      if (this._h === 0) throw new OstrelError(-4, 'the decoder is closed');
    }

    _open() {
      if (this.info !== null) return true;
      const status = check(m._ow_dec_open(this._h));
      if (status === 1) return false;
      const info = {};
      FACTS.forEach((name, i) => { info[name] = m._ow_dec_fact(this._h, i); });
      info.duration = info.samples / info.sampleRate;
      const size = m._malloc(4);
      for (const key of ['title', 'author', 'comment']) {
        const k = cString(key);
        const p = m._ow_dec_string(this._h, k, size);
        m._free(k);
        info[key] = bytesToString(p, m.HEAPU32[size >> 2]);
      }
      m._free(size);
      const tags = [];
      for (let i = 0, n = m._ow_dec_tag_count(this._h); i < n; ++i) {
        tags.push([m.UTF8ToString(m._ow_dec_tag(this._h, i, 0)), m.UTF8ToString(m._ow_dec_tag(this._h, i, 1))]);
      }
      info.tagNote = m.UTF8ToString(m._ow_dec_tag_note(this._h));
      this.tags = tags;
      this.info = info;
      return true;
    }

    /** The first value of tag `key` (any case), or undefined. */
    tag(key) {
      const k = key.toUpperCase();
      const found = this.tags.find(([name]) => name === k);
      return found ? found[1] : undefined;
    }

    /** Sample frames that can be read now without more bytes (Infinity once ended). */
    get readable() {
      if (this.info === null) return 0;
      const n = m._ow_dec_readable(this._h);
      return n >= Number.MAX_SAFE_INTEGER ? Infinity : n;
    }

    _read(maxFrames, asFloat) {
      this._live();
      if (this.info === null) return asFloat ? new Float32Array(0) : new Int16Array(0);
      const Kind = asFloat ? Float32Array : Int16Array;
      const limit = Math.min(maxFrames ?? Infinity, this.readable);
      const parts = [];
      let total = 0;
      const block = Math.max(1, Math.min(READ_BLOCK, limit));
      const p = m._malloc(block * 2 * Kind.BYTES_PER_ELEMENT);
      try {
        while (total < limit) {
          const n = check(m._ow_dec_read(this._h, p, Math.min(block, limit - total), asFloat ? 1 : 0));
          if (n === 0) break;
          const heap = asFloat ? m.HEAPF32 : m.HEAP16;
          const at = p / Kind.BYTES_PER_ELEMENT;
          parts.push(heap.slice(at, at + 2 * n));
          total += n;
        }
      } finally {
        m._free(p);
      }
      if (parts.length === 1) return parts[0];
      const out = new Kind(2 * total);
      let at = 0;
      for (const part of parts) {
        out.set(part, at);
        at += part.length;
      }
      return out;
    }

    /** Up to `maxFrames` (default: all that have arrived) interleaved float samples, -1..1. */
    read(maxFrames) {
      return this._read(maxFrames, true);
    }

    /** As read(), as 16-bit samples. */
    readInt16(maxFrames) {
      return this._read(maxFrames, false);
    }

    /** True when seek(sample) can go there now (its frames have arrived). */
    canSeek(sample) {
      return this.info !== null && m._ow_dec_can_seek(this._h, sample) === 1;
    }

    /** Moves to sample `sample`: the next read starts exactly with it. */
    seek(sample) {
      this._live();
      if (!this.canSeek(sample)) throw new OstrelError(-4, 'that part of the stream has not arrived yet');
      check(m._ow_dec_seek(this._h, sample));
    }

    /** The sample the next read starts with. */
    tell() {
      return this.info === null ? 0 : m._ow_dec_tell(this._h);
    }

    /** Frames decoded so far, and how many of them were damaged (decoded as silence). */
    get framesDecoded() {
      return this.info === null ? 0 : m._ow_dec_fact(this._h, 10);
    }

    get damagedFrames() {
      return this.info === null ? 0 : m._ow_dec_fact(this._h, 9);
    }

    /** Releases the decoder's memory. */
    close() {
      if (this._h !== 0) m._ow_dec_free(this._h);
      this._h = 0;
    }
  }

  /**
   * An encoder at `kbps` (one of `bitrates`): write() interleaved Float32Array blocks (or a
   * [left, right] pair of planar ones), finish() gives the whole stream, byte for byte the native
   * encoder's. `tags` is an object or a list of [key, value] pairs (TITLE, ARTIST, ...).
   */
  class Encoder {
    constructor(kbps, { tags = [], quality = false } = {}) {
      const status = m._malloc(4);
      this._h = m._ow_enc_new(kbps, status);
      const code = m.HEAP32[status >> 2];
      m._free(status);
      if (this._h === 0) fail(code);
      try {
        const pairs = Array.isArray(tags) ? tags : Object.entries(tags);
        const seen = new Set();
        for (const [key, value] of pairs) {
          const k = cString(String(key));
          const v = cString(String(value));
          const add = seen.has(String(key).toUpperCase()) ? 1 : 0;
          seen.add(String(key).toUpperCase());
          const s = m._ow_enc_tag(this._h, k, v, add);
          m._free(k);
          m._free(v);
          check(s);
        }
        if (quality) check(m._ow_enc_quality(this._h, 1));
      } catch (e) {
        this.close();
        throw e;
      }
    }

    /**
     * Codes interleaved stereo samples (-1..1), [left, right] planar arrays of one length, or
     * interleaved 16-bit samples (Int16Array).
     */
    write(samples) {
      if (this._h === 0) throw new OstrelError(-4, 'the encoder is closed');
      let frames;
      let p;
      if (samples instanceof Int16Array) {
        if (samples.length % 2 !== 0) throw new OstrelError(-1, 'interleaved stereo needs an even count');
        frames = samples.length / 2;
        if (frames === 0) return;
        p = m._ow_enc_block16(this._h, frames);
        if (p === 0) fail(-11);
        m.HEAP16.set(samples, p >> 1);
        check(m._ow_enc_write16(this._h, frames));
        return;
      }
      if (Array.isArray(samples)) {
        const [left, right] = samples;
        if (left.length !== right.length) throw new OstrelError(-1, 'the channels differ in length');
        frames = left.length;
        if (frames === 0) return;
        p = m._ow_enc_block(this._h, frames);
        if (p === 0) fail(-11);
        const heap = m.HEAPF32.subarray(p >> 2, (p >> 2) + 2 * frames);
        for (let i = 0; i < frames; ++i) {
          heap[2 * i] = left[i];
          heap[2 * i + 1] = right[i];
        }
      } else {
        if (samples.length % 2 !== 0) throw new OstrelError(-1, 'interleaved stereo needs an even count');
        frames = samples.length / 2;
        if (frames === 0) return;
        p = m._ow_enc_block(this._h, frames);
        if (p === 0) fail(-11);
        m.HEAPF32.set(samples, p >> 2);
      }
      check(m._ow_enc_write(this._h, frames));
    }

    /** Codes the rest and returns the whole stream. */
    finish() {
      if (this._h === 0) throw new OstrelError(-4, 'the encoder is closed');
      check(m._ow_enc_finish(this._h));
      const size = m._malloc(4);
      const p = m._ow_enc_bytes(this._h, size);
      const out = m.HEAPU8.slice(p, p + m.HEAPU32[size >> 2]);
      m._free(size);
      return out;
    }

    /** Frames of the stream written so far; float samples limited to full scale so far. */
    get frames() {
      return this._h === 0 ? 0 : m._ow_enc_fact(this._h, 0);
    }

    get clipped() {
      return this._h === 0 ? 0 : m._ow_enc_fact(this._h, 1);
    }

    close() {
      if (this._h !== 0) m._ow_enc_free(this._h);
      this._h = 0;
    }
  }

  /** Decodes a whole stream at once: { info, tags, samples } (interleaved Float32Array). */
  function decode(bytes) {
    const dec = new Decoder();
    try {
      dec.push(bytes);
      dec.end();
      return { info: dec.info, tags: dec.tags, samples: dec.read() };
    } finally {
      dec.close();
    }
  }

  /** Encodes interleaved (or [left, right]) samples at `kbps`; returns the stream. */
  function encode(samples, kbps, options) {
    const enc = new Encoder(kbps, options);
    try {
      enc.write(samples);
      return enc.finish();
    } finally {
      enc.close();
    }
  }

  return {
    version: m.UTF8ToString(m._ostrel_version()),
    bitrates,
    strerror: text,
    Decoder,
    Encoder,
    decode,
    encode,
  };
}

/** Splits interleaved stereo into [left, right] planar arrays (for Web Audio's AudioBuffer). */
export function deinterleave(samples) {
  const frames = samples.length >> 1;
  const left = new Float32Array(frames);
  const right = new Float32Array(frames);
  for (let i = 0; i < frames; ++i) {
    left[i] = samples[2 * i];
    right[i] = samples[2 * i + 1];
  }
  return [left, right];
}
