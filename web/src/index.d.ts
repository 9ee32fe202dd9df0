// Web Audio and media types come from TypeScript's DOM library. A project
// without it (Node only) gets these empty stand-ins, which merge with the real
// ones wherever the DOM library is present.
declare global {
  interface BaseAudioContext {}
  interface AudioContext {}
  interface AudioNode {}
  interface AudioBufferSourceNode {}
  interface MediaStreamAudioSourceNode {}
  interface AudioWorkletNode {}
  interface MediaStream {}
  interface MediaTrackConstraints {}
}

/** Mode names and their QUORLAX_MODE values, as the library names them; filled by load(). */
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

/** What a platform lacks or refused. */
export type PlatformErrorCode =
  | 'no-webassembly' | 'needs-browser' | 'insecure-context' | 'no-audio-worklet' | 'no-media-devices'
  | 'microphone-denied' | 'no-microphone' | 'microphone-busy';
/**
 * What the platform lacks or refused: no WebAssembly, no browser (Node), a page
 * over plain http, no AudioWorklet, no microphone access, a refused or missing
 * or busy microphone. `message` says what to do; `cause` keeps the engine's error.
 */
export declare class QuorlaxPlatformError extends Error {
  readonly name: 'QuorlaxPlatformError';
  readonly code: PlatformErrorCode;
}

export interface LoadOptions {
  /**
   * The module's bytes or URL, when it is not served beside the package's
   * index.js (quorlax.wasm, or quorlax-nosimd.wasm where simdSupported() is false).
   */
  wasm?: ArrayBuffer | ArrayBufferView | string | URL;
  /** Which of the two modules beside index.js to load; by default simdSupported() decides. */
  simd?: boolean;
}
/** Loads the WebAssembly module once; every other function needs it. Throws QuorlaxPlatformError without WebAssembly. */
export declare function load(options?: LoadOptions): Promise<void>;

/** Whether this engine runs WebAssembly SIMD (Safari before 16.4 does not). */
export declare function simdSupported(): boolean;

/** "Quorlax version 1.0.0 [QuorlaxSDK]". */
export declare function version(): string;

/** The module loaded: `simd` tells whether it is the build with WebAssembly SIMD. */
export declare function build(): { simd: boolean };

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
/** Plays one transmission; resolves once it is scheduled. Throws QuorlaxPlatformError ('needs-browser') outside a browser. */
export declare function play(text: string, options?: PlayOptions): Promise<Playing>;

/** Facts of one band, from the library's band table (QUORLAX_GetBandInfo). */
export interface BandInfo {
  /** QUORLAX_MODE value of the band. */
  mode: number;
  /** 0 audible, 1 non-audible, 2 compression, 3 custom. */
  decodingMode: number;
  name: 'audible' | 'nonaudible' | 'compression' | 'custom';
  /** The nine-tone grid at this rate, Hz. */
  toneHz: number[];
  /** Shift step on air, Hz (message tokens rotate 0, 1, 2 steps up). */
  shiftHz: number;
  /** Lowest tone, and highest tone plus two shift steps, Hz. */
  lowHz: number;
  highHz: number;
}
/** The bands a listener in `mode` (default "all") hears at `rate` Hz, those that fit there. */
export declare function bands(rate: number, mode?: Mode): BandInfo[];

/** One transmission heard. */
export interface Message {
  /** The nine characters. */
  text: string;
  /** Passed its check (failed ones are reported only with reportFailed). */
  ok: boolean;
  band: 'audible' | 'nonaudible' | 'compression' | 'custom';
  /** First sample of its start tokens, counted from the first sample pushed, at the listener's rate. */
  start: number;
  /** One past its last sample. */
  end: number;
  /** Received level of its tones, dB re full scale (a full-scale sine reads 0). */
  levelDb: number;
  /** 0..1. */
  confidence: number;
  /** Its tones' frequencies over the grid's, minus 1: 0.02 when they arrived 2 % high (a sender moving closer, or playing fast). */
  pitchOffset: number;
  /** Its tokens' rate over the nominal, minus 1: 0.02 when they came 2 % fast; a sender playing 2 % fast shows 0.02 in both. */
  tempoOffset: number;
}

export interface ListenerOptions {
  /** Default "all": hears the audible, non-audible and compression bands. */
  mode?: Mode;
  /** Samples per second of the audio pushed: 44100 (default) or 48000; 22050 for audible and custom. */
  rate?: number;
  /** Custom mode: lowest tone, Hz. */
  base?: number;
  /** Custom mode: tone spacing. */
  separation?: number;
  /** Also report messages that failed their check (ok false). */
  reportFailed?: boolean;
}
/** Hears transmissions in audio pushed in pieces of any length. Throws QuorlaxError for a bad mode or rate. */
export declare class Listener {
  constructor(options?: ListenerOptions);
  readonly rate: number;
  /** Feeds samples; returns the messages they completed, in order of completion. */
  push(samples: Float32Array | ArrayLike<number>): Message[];
  /** End of stream: completes what is in flight. */
  flush(): Message[];
  /** Releases the listener's memory in the module (also done when it is collected). */
  close(): void;
}

/** getUserMedia audio constraints with echo cancellation, noise suppression and gain control off. */
export declare const MICROPHONE: Readonly<MediaTrackConstraints>;
/**
 * The microphone with those filters off (they erase tones). Throws
 * QuorlaxPlatformError: 'insecure-context', 'no-media-devices',
 * 'microphone-denied', 'no-microphone', 'microphone-busy', 'needs-browser'.
 */
export declare function microphone(constraints?: MediaTrackConstraints): Promise<MediaStream>;

/** Which voice filters an engine applies to a stream (getSettings()); null where it does not say. */
export interface VoiceProcessing {
  echoCancellation: boolean | null;
  noiseSuppression: boolean | null;
  autoGainControl: boolean | null;
  /** The filters still on, for telling the user (an engine may keep some on whatever was asked). */
  keptOn: Array<'echoCancellation' | 'noiseSuppression' | 'autoGainControl'>;
}
/** The voice filters on `stream`'s first audio track. */
export declare function voiceProcessing(stream: MediaStream): VoiceProcessing;

export interface ListenPlan {
  /** The audio's rate (the AudioContext's). */
  inputRate: number;
  /** The listener's rate. */
  rate: number;
  /** Whether the worklet resamples inputRate to rate. */
  resampled: boolean;
  /** The bands that can be heard. */
  bands: BandInfo[];
}
/**
 * How audio at `inputRate` is heard: directly, or resampled to 44100 or 48000 Hz.
 * Throws QuorlaxError (code -7) with a plain explanation when no band of the
 * mode lies below half of inputRate (a Bluetooth headset in call mode: 16000 Hz).
 */
export declare function listenPlan(inputRate: number, options?: ListenerOptions): ListenPlan;

export interface ListenOptions extends Omit<ListenerOptions, 'rate'> {
  /** Default: a new AudioContext (closed by stop()). */
  context?: AudioContext;
  /** Called with errors raised inside the worklet after listening started. */
  onError?: (error: Error) => void;
  /** URL of libsamplerate-js's worklet module, when the context's rate needs resampling. */
  resampler?: string | URL;
}
export interface Listening extends ListenPlan {
  context: AudioContext;
  stream: MediaStream;
  /** The stream's source node: connect an AnalyserNode to it for a spectrogram. */
  source: MediaStreamAudioSourceNode;
  node: AudioWorkletNode;
  /** The stream's voice filters as the engine reports them. */
  voiceProcessing: VoiceProcessing;
  /** Stops; resolves after the messages still in flight were delivered. */
  stop(): Promise<void>;
}
/**
 * Listens to `stream` (the microphone with its voice filters off when null) in
 * an AudioWorklet, calling onMessage for each message heard. Throws
 * QuorlaxPlatformError ('insecure-context', 'no-audio-worklet', the
 * microphone's) and QuorlaxError (-7 when no band fits the context's rate).
 */
export declare function listen(stream: MediaStream | null, onMessage: (message: Message) => void, options?: ListenOptions): Promise<Listening>;
