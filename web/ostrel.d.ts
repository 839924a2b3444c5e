// The Ostrel codec for JavaScript (ostrel.mjs). Samples are interleaved stereo sample frames;
// positions and lengths count sample frames (samples per channel).

/** A failure of the codec; `message` is the library's text for `status`. */
export class OstrelError extends Error {
  readonly status: number;
  constructor(status: number, message: string);
}

/** What a stream's header says. */
export interface StreamInfo {
  kbps: number;
  sampleRate: number;
  channels: number;
  /** The header's frame count; 0 when the encoder could not store it. */
  frames: number;
  /** Sample frames a decoder outputs (the source's exact length where the header gives it). */
  samples: number;
  /** samples / sampleRate, in seconds. */
  duration: number;
  frameBytes: number;
  samplesPerFrame: number;
  delay: number;
  headerBytes: number;
  title: string;
  author: string;
  comment: string;
  /** "" or what was wrong with the header's tags. */
  tagNote: string;
}

export type Tag = [key: string, value: string];

/** A decoder of a stream that arrives in chunks. */
export interface Decoder {
  /** null until the header is in. */
  readonly info: StreamInfo | null;
  readonly tags: Tag[];
  /** Adds the next bytes; true once the header is in. Throws OstrelError for a foreign stream. */
  push(chunk: Uint8Array | ArrayBuffer): boolean;
  /** No more bytes will come. */
  end(): void;
  /** The first value of a tag (any case). */
  tag(key: string): string | undefined;
  /** Sample frames that can be read without more bytes (Infinity once ended). */
  readonly readable: number;
  /** Interleaved samples, -1..1, up to maxFrames (default: all that have arrived). */
  read(maxFrames?: number): Float32Array;
  readInt16(maxFrames?: number): Int16Array;
  canSeek(sample: number): boolean;
  /** The next read starts exactly with `sample`. */
  seek(sample: number): void;
  tell(): number;
  readonly framesDecoded: number;
  readonly damagedFrames: number;
  close(): void;
}

export interface EncoderOptions {
  /** TITLE, ARTIST, ALBUM, ... as an object or as pairs (a key may repeat). */
  tags?: Record<string, string> | Tag[];
  /** The quality mode (same format, about twice the coding time). */
  quality?: boolean;
}

export interface Encoder {
  /** Interleaved stereo (-1..1), a [left, right] pair of planar arrays, or interleaved 16-bit samples. */
  write(samples: Float32Array | [Float32Array, Float32Array] | Int16Array): void;
  /** Codes the rest and returns the whole stream. */
  finish(): Uint8Array;
  readonly frames: number;
  readonly clipped: number;
  close(): void;
}

export interface Ostrel {
  readonly version: string;
  /** The data rates an encoder takes, in kb/s. */
  readonly bitrates: number[];
  strerror(status: number): string;
  Decoder: { new (): Decoder };
  Encoder: { new (kbps: number, options?: EncoderOptions): Encoder };
  decode(bytes: Uint8Array | ArrayBuffer): { info: StreamInfo; tags: Tag[]; samples: Float32Array };
  encode(samples: Float32Array | [Float32Array, Float32Array] | Int16Array, kbps: number, options?: EncoderOptions): Uint8Array;
}

/** Loads the WebAssembly module; `options` go to the emscripten module (e.g. locateFile). */
export function loadOstrel(options?: Record<string, unknown>): Promise<Ostrel>;

/** Interleaved stereo into [left, right]. */
export function deinterleave(samples: Float32Array): [Float32Array, Float32Array];
