/** Mode names and their QUORLAX_MODE values. */
export declare const MODES: Readonly<{ audible: 2; nonaudible: 3; compression: 4; all: 5; custom: 6 }>;

export type ModeName = keyof typeof MODES;
/** A mode by name or by its QUORLAX_MODE value. */
export type Mode = ModeName | 2 | 3 | 4 | 5 | 6;

/** A negative result code of the library; `message` is its sentence (QUORLAX_GetErrorText). */
export declare class QuorlaxError extends Error {
  readonly name: 'QuorlaxError';
  /** The library's result code: -1 unknown mode, -4 invalid argument, -7 unsupported rate or band, ... */
  readonly code: number;
}

export interface LoadOptions {
  /** quorlax.wasm's bytes or URL, when it is not served beside the package's index.js. */
  wasm?: ArrayBuffer | ArrayBufferView | string | URL;
}
/** Loads quorlax.wasm once; every other function needs it. */
export declare function load(options?: LoadOptions): Promise<void>;

/** "Quorlax version 1.0.0 [QuorlaxSDK]". */
export declare function version(): string;

export interface EncodeOptions {
  /** Default "audible". "all" sends in the non-audible band. */
  mode?: Mode;
  /** Samples per second; 44100 (default) and 48000 in every mode, 22050 for audible and custom. */
  rate?: number;
  /** Custom mode: lowest tone, Hz. */
  base?: number;
  /** Custom mode: tone spacing, (separation + 2) * 3 analysis bins. */
  separation?: number;
}
/**
 * One transmission of `text` (nine characters 0-9, a-v, either case) as mono
 * samples at `rate` Hz. Throws QuorlaxError (-4 for a bad message, -7 for a
 * rate or grid the mode cannot use).
 */
export declare function encode(text: string, options?: EncodeOptions): Float32Array;

export interface PlayOptions extends EncodeOptions {
  /** Where to play; a new AudioContext by default. An OfflineAudioContext renders it. */
  context?: BaseAudioContext;
  /** Default: the context's destination. */
  destination?: AudioNode;
  /** Start time on the context's clock, seconds (default: now). */
  when?: number;
}
export interface Playing {
  context: BaseAudioContext;
  source: AudioBufferSourceNode;
  samples: Float32Array;
  /** The rate it was synthesised at: the context's when 44100 or 48000, else 48000 (the browser resamples). */
  rate: number;
  /** Seconds. */
  duration: number;
  /** Settles when the source has finished playing. */
  ended: Promise<void>;
}
/** Plays one transmission; resolves once it is scheduled. */
export declare function play(text: string, options?: PlayOptions): Promise<Playing>;
