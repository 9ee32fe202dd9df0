// quorlax.wasm and its C interface as JavaScript. No DOM and no Node APIs: the
// same file runs in Node, on a page and inside an AudioWorklet.

/** Mode names and their QUORLAX_MODE values, as the library gives them; filled by the first instantiate(). */
export const MODES = {};

// Result codes that the JavaScript side raises itself, with the library's texts.
const NOT_READY = -1;
const INVALID_ARGUMENT = -4;
export const UNSUPPORTED = -7;
const OUT_OF_MEMORY = -8;

/** A library result code as an exception: `code` is the code, `message` its text. */
export class QuorlaxError extends Error {
  constructor(code, message, detail) {
    super(detail ? `${message} (${detail})` : message);
    this.name = 'QuorlaxError';
    this.code = code;
  }
}

// The smallest module with a SIMD instruction: one function returning
// v128.const 0. Engines without wasm SIMD (Safari before 16.4) refuse it.
const SIMD_PROBE = new Uint8Array([
  0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00, // "\0asm", version 1
  0x01, 0x05, 0x01, 0x60, 0x00, 0x01, 0x7b, // types: () -> v128
  0x03, 0x02, 0x01, 0x00, // one function of type 0
  0x0a, 0x16, 0x01, 0x14, 0x00, 0xfd, 0x0c, // its body: no locals, v128.const
  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0b, // 16 zero bytes, end
]);

/** Whether this engine runs WebAssembly SIMD (false without WebAssembly). */
export function simdSupported() {
  return typeof WebAssembly === 'object' && WebAssembly.validate(SIMD_PROBE);
}

// What a platform lacks or refused, by code: each sentence says what to do.
const PLATFORM_SENTENCES = Object.freeze({
  'no-webassembly': 'this browser has no WebAssembly, or it is turned off; the package runs on it',
  'needs-browser': 'this needs a browser\'s Web Audio (AudioContext); in Node, use encode() and Listener',
  'insecure-context': 'the microphone and AudioWorklet need a secure context: serve the page over https ' +
    '(plain http counts only for localhost)',
  'no-audio-worklet': 'this browser has no AudioWorklet, which listening runs in ' +
    '(it needs Chrome 66, Firefox 76, Safari 14.1 or later)',
  'no-media-devices': 'this browser or web view gives pages no microphone (navigator.mediaDevices.getUserMedia)',
  'microphone-denied': 'the microphone permission was refused: allow it in the browser\'s site settings ' +
    '(in an app\'s web view, also in the app\'s own permissions) and try again',
  'no-microphone': 'no microphone was found: connect one, or let the system give this browser one',
  'microphone-busy': 'the microphone could not be started: another program may hold it',
});

/**
 * What the platform lacks or refused, as an exception: `code` is one of the
 * strings above, `message` its sentence; `cause` keeps the engine's own error.
 */
export class QuorlaxPlatformError extends Error {
  constructor(code, detail, cause) {
    const sentence = PLATFORM_SENTENCES[code] ?? code;
    super(detail ? `${sentence} (${detail})` : sentence, cause === undefined ? undefined : { cause });
    this.name = 'QuorlaxPlatformError';
    this.code = code;
  }
}

/** Compiles (if given bytes) and instantiates quorlax.wasm. */
export async function instantiate(source) {
  if (typeof WebAssembly !== 'object') throw new QuorlaxPlatformError('no-webassembly');
  let memory = null;
  const imports = {
    env: { emscripten_notify_memory_growth() {} },
    wasi_snapshot_preview1: {
      // Seeds the random melody only.
      clock_time_get(_id, _precision, out) {
        new DataView(memory.buffer).setBigUint64(out, BigInt(Date.now()) * 1000000n, true);
        return 0;
      },
      proc_exit(code) {
        throw new Error(`quorlax.wasm stopped (exit ${code})`);
      },
    },
  };
  const result = await WebAssembly.instantiate(source, imports);
  const instance = result.instance ?? result;
  memory = instance.exports.memory;
  instance.exports._initialize();
  const core = new Core(instance);
  if (!Object.isFrozen(MODES)) Object.freeze(Object.assign(MODES, Object.fromEntries(core.modes.map((m) => [m.name, m.value]))));
  return core;
}

// Where the fields of the interface's records lie (QUORLAXWEB_Layout).
function readLayout(exports, memory) {
  const a = new Int32Array(memory.buffer, exports.QUORLAXWEB_Layout(), 34).slice();
  return {
    messageLength: a[0],
    message: { size: a[1], text: a[2], ok: a[3], band: a[4], start: a[5], end: a[6], levelDb: a[7], confidence: a[8],
      pitchOffset: a[9], tempoOffset: a[10] },
    mode: { size: a[11], name: a[12], sends: a[13], hears: a[14], numHears: a[15], tokenSamples: a[16],
      transmissionSamples: a[17], lowHz: a[18], highHz: a[19] },
    band: { size: a[20], mode: a[21], decodingMode: a[22], name: a[23], numTones: a[24], toneHz: a[25], shiftHz: a[26],
      lowHz: a[27], highHz: a[28] },
    config: { size: a[29], customBaseHz: a[30], customSeparation: a[31], reportFailed: a[32] },
    customMode: a[33],
  };
}

function describe(value) {
  return typeof value === 'string' ? JSON.stringify(value) : String(value);
}

/**
 * One instance of the library. Every method runs synchronously. Modes, their
 * names and bands, rates, lengths, the alphabet and the default custom grid
 * are the library's answers to its queries.
 */
export class Core {
  constructor(instance) {
    this.exports = instance.exports;
    this.memory = instance.exports.memory;
    const e = this.exports;
    this.layout = readLayout(e, this.memory);
    this.alphabet = this.cString(e.QUORLAX_GetAlphabet());
    this.defaultGrid = Object.freeze({ base: e.QUORLAX_GetDefaultCustomBase(), separation: e.QUORLAX_GetDefaultCustomSeparation() });
    this.rates = this.withMemory(4 * e.QUORLAX_GetSampleRates(0, 0), (p, bytes) =>
      Array.from(new Float32Array(this.memory.buffer, p, this.check(e.QUORLAX_GetSampleRates(p, bytes / 4)))));
    const values = this.withMemory(4 * e.QUORLAX_GetModes(0, 0), (p, bytes) =>
      Array.from(new Int32Array(this.memory.buffer, p, this.check(e.QUORLAX_GetModes(p, bytes / 4)))));
    // The bands a mode hears do not depend on the rate: asked at the first rate it works at.
    this.modes = values.map((value) => ({
      value,
      name: this.cString(e.QUORLAX_GetModeName(value)),
      hears: this.modeInfo(value, this.rates.find((r) => this.supported(value, r, null) === 0), null).hears,
    }));
  }

  // Views are re-made after the memory grew (the old buffer is then detached).
  get heapU8() {
    return new Uint8Array(this.memory.buffer);
  }

  cString(ptr, max = 4096) {
    const u8 = this.heapU8;
    let s = '';
    for (let i = ptr; i < ptr + max && u8[i] !== 0; i++) s += String.fromCharCode(u8[i]);
    return s;
  }

  /** fn(pointer, bytes) with `bytes` (at least 8) of the module's memory, released after. */
  withMemory(bytes, fn) {
    const size = Math.max(8, bytes);
    const p = this.exports.malloc(size);
    if (!p) this.check(OUT_OF_MEMORY, `${size} bytes`);
    try {
      return fn(p, size);
    } finally {
      this.exports.free(p);
    }
  }

  /** The library's sentence for a result code. */
  errorText(code) {
    return this.cString(this.exports.QUORLAX_GetErrorText(code));
  }

  /** Raises a negative result code as a QuorlaxError; passes others through. */
  check(code, detail) {
    if (code < 0) throw new QuorlaxError(code, this.errorText(code), detail);
    return code;
  }

  version() {
    return this.cString(this.exports.QUORLAX_GetVersion());
  }

  /** Whether this module was built with WebAssembly SIMD. */
  simd() {
    return this.exports.QUORLAXWEB_Simd() === 1;
  }

  /** The name of a QUORLAX_MODE value (a band's too), or the number as text. */
  modeName(value) {
    return this.modes.find((m) => m.value === value)?.name ?? String(value);
  }

  /** QUORLAX_MODE value of a name or number; anything else raises the library's code for an unknown mode. */
  modeValue(mode) {
    if (typeof mode === 'string') {
      const value = this.withText(mode, (p) => this.exports.QUORLAX_ModeFromName(p));
      if (value >= 0) return value;
    } else if (this.modes.some((m) => m.value === mode)) {
      return mode;
    }
    const known = this.modes.map((m) => `${m.name} (${m.value})`).join(', ');
    throw new QuorlaxError(NOT_READY, `unknown mode ${describe(mode)}: the modes are ${known}`);
  }

  rateValue(rate) {
    if (typeof rate !== 'number') throw this.invalid(`rate must be a number of samples per second, not ${describe(rate)}`);
    return rate;
  }

  /** A custom grid: base (Hz) and separation (0 when left out); null when neither is given. */
  gridValue(base, separation) {
    if (base === undefined && separation === undefined) return null;
    if (base === undefined) throw this.invalid(`separation ${describe(separation)} was given without the custom grid's base (Hz)`);
    if (typeof base !== 'number' || Number.isNaN(base)) throw this.invalid(`base must be a number of Hz, not ${describe(base)}`);
    if (separation !== undefined && !Number.isInteger(separation)) throw this.invalid(`separation must be a whole number, not ${describe(separation)}`);
    return { base, separation: separation ?? 0 };
  }

  /** QUORLAX_IsSupported: 0, or the code creating a sender or listener would give. */
  supported(mode, rate, grid) {
    const g = grid ?? this.defaultGrid;
    return this.exports.QUORLAX_IsSupported(mode, rate, g.base, g.separation);
  }

  /**
   * The grid to use for `mode` at `rate` (the default one unless `grid` is
   * given); raises what the library refuses, naming the argument at fault.
   */
  require(mode, rate, grid) {
    if (grid && mode !== this.layout.customMode) throw new QuorlaxError(NOT_READY, 'base and separation apply to the custom mode only');
    const code = this.supported(mode, rate, grid);
    if (code === 0) return grid ?? this.defaultGrid;
    if (code === INVALID_ARGUMENT && grid) throw this.invalid(`separation ${grid.separation}: it must be 0 or more`);
    if (grid && this.supported(mode, rate, null) === 0) {
      throw new QuorlaxError(code, this.errorText(code), `custom grid from ${grid.base} Hz with separation ${grid.separation} at ${rate} Hz`);
    }
    throw new QuorlaxError(code, this.errorText(code), `mode ${mode} at ${rate} Hz`);
  }

  invalid(detail) {
    return new QuorlaxError(INVALID_ARGUMENT, this.errorText(INVALID_ARGUMENT), detail);
  }

  /** QUORLAX_GetModeInfo of a mode that works at `rate`. */
  modeInfo(mode, rate, grid) {
    const L = this.layout.mode;
    const g = grid ?? this.defaultGrid;
    return this.withMemory(L.size, (p) => {
      new Uint32Array(this.memory.buffer, p, 1)[0] = L.size;
      this.check(this.exports.QUORLAX_GetModeInfo(mode, rate, g.base, g.separation, p), `mode ${mode} at ${rate} Hz`);
      const v = new DataView(this.memory.buffer);
      const hears = [];
      for (let i = 0; i < v.getInt32(p + L.numHears, true); i++) hears.push(v.getInt32(p + L.hears + 4 * i, true));
      return {
        name: this.cString(p + L.name, 16),
        sends: v.getInt32(p + L.sends, true),
        hears,
        tokenSamples: v.getInt32(p + L.tokenSamples, true),
        transmissionSamples: v.getInt32(p + L.transmissionSamples, true),
        lowHz: v.getFloat32(p + L.lowHz, true),
        highHz: v.getFloat32(p + L.highHz, true),
      };
    });
  }

  /** The rate to synthesise at for a context at `contextRate`: that one where the mode works, else the highest that does. */
  sendRate(contextRate, mode, grid) {
    if (this.supported(mode, contextRate, grid) === 0) return contextRate;
    return this.rates.filter((r) => this.supported(mode, r, grid) === 0).at(-1);
  }

  // Bytes of `text` in the heap, zero-terminated; characters above 0xff
  // become 0xff, which the alphabet check refuses like any other.
  withText(text, fn) {
    if (typeof text !== 'string') throw new TypeError('text must be a string');
    return this.withMemory(text.length + 1, (ptr) => {
      const u8 = this.heapU8;
      for (let i = 0; i < text.length; i++) u8[ptr + i] = Math.min(text.charCodeAt(i), 0xff);
      u8[ptr + text.length] = 0;
      return fn(ptr, text.length);
    });
  }

  /** One transmission of `text` (nine characters of the alphabet) as float samples at `rate` Hz. */
  encode(text, { mode = 'audible', rate = 44100, base, separation } = {}) {
    const m = this.modeValue(mode);
    const r = this.rateValue(rate);
    const grid = this.require(m, r, this.gridValue(base, separation));
    const { transmissionSamples } = this.modeInfo(m, r, grid);
    const e = this.exports;
    const sender = this.withMemory(4, (err) => {
      const made = e.QUORLAX_SenderCreate(m, r, grid.base, grid.separation, err);
      if (!made) this.check(new Int32Array(this.memory.buffer, err, 1)[0] || OUT_OF_MEMORY, `mode ${m} at ${r} Hz`);
      return made;
    });
    try {
      const started = this.withText(text, (p) => e.QUORLAX_SenderStart(sender, p));
      this.check(started, `message ${JSON.stringify(text)}: ${this.layout.messageLength} characters of ${this.alphabet}`);
      return this.withMemory(4 * transmissionSamples, (out) => {
        let n = 0;
        for (let got; n < transmissionSamples && (got = this.check(e.QUORLAX_SenderRender(sender, out + 4 * n, transmissionSamples - n))) > 0;) n += got;
        return new Float32Array(this.memory.buffer, out, n).slice();
      });
    } finally {
      e.QUORLAX_SenderDestroy(sender);
    }
  }
}

/** Facts of one band at `rate` Hz (QUORLAX_GetBandInfoEx), or null where it does not fit. */
export function bandInfo(core, mode, rate, grid = null) {
  const L = core.layout.band;
  const g = grid ?? core.defaultGrid;
  return core.withMemory(L.size, (p) => {
    new Uint32Array(core.memory.buffer, p, 1)[0] = L.size;
    const code = core.exports.QUORLAX_GetBandInfoEx(mode, rate, g.base, g.separation, p);
    if (code === UNSUPPORTED) return null;
    core.check(code, `band ${mode} at ${rate} Hz`);
    const v = new DataView(core.memory.buffer);
    const toneHz = [];
    for (let i = 0; i < v.getInt32(p + L.numTones, true); i++) toneHz.push(v.getFloat32(p + L.toneHz + 4 * i, true));
    return {
      mode: v.getInt32(p + L.mode, true),
      decodingMode: v.getInt32(p + L.decodingMode, true),
      name: core.cString(p + L.name, 16),
      toneHz,
      shiftHz: v.getFloat32(p + L.shiftHz, true),
      lowHz: v.getFloat32(p + L.lowHz, true),
      highHz: v.getFloat32(p + L.highHz, true),
    };
  });
}

/** The bands a listener in `mode` hears at `rate` Hz that fit there. */
export function bandsHeard(core, mode, rate, grid = null) {
  const m = core.modeValue(mode);
  const r = core.rateValue(rate);
  return core.modes.find((x) => x.value === m).hears.map((b) => bandInfo(core, b, r, grid)).filter(Boolean);
}

const finalizer = typeof FinalizationRegistry === 'function'
  ? new FinalizationRegistry(({ core, ptr }) => core.exports.QUORLAX_ListenerDestroy(ptr))
  : null;

/**
 * A QUORLAX_Listener: push audio of any length, flush at the end; both return
 * the messages they completed.
 */
export class CoreListener {
  constructor(core, { mode = 'all', rate = 44100, base, separation, reportFailed = false } = {}) {
    const m = core.modeValue(mode);
    const r = core.rateValue(rate);
    const grid = core.require(m, r, core.gridValue(base, separation));
    const e = core.exports;
    const C = core.layout.config;
    this.ptr = core.withMemory(C.size + 4, (config) => {
      e.QUORLAX_ListenerConfigInit(config, m, r);
      const v = new DataView(core.memory.buffer);
      v.setFloat32(config + C.customBaseHz, grid.base, true);
      v.setInt32(config + C.customSeparation, grid.separation, true);
      v.setInt32(config + C.reportFailed, reportFailed ? 1 : 0, true);
      const err = config + C.size;
      const made = e.QUORLAX_ListenerCreateEx(config, err);
      if (!made) core.check(new Int32Array(core.memory.buffer, err, 1)[0] || OUT_OF_MEMORY, `mode ${m} at ${r} Hz`);
      return made;
    });
    this.core = core;
    this.mode = m;
    this.rate = r;
    this.scratch = 0;
    this.scratchSize = 0;
    this.record = e.malloc(core.layout.message.size);
    this.token = {};
    finalizer?.register(this, { core, ptr: this.ptr }, this.token);
  }

  live() {
    if (!this.ptr) throw new Error('quorlax: this listener is closed');
    return this.core.exports;
  }

  /** Feeds samples (Float32Array or array of numbers); returns the messages completed. */
  push(samples) {
    const e = this.live();
    if (!(samples instanceof Float32Array)) {
      if (samples == null || typeof samples === 'string' || typeof samples.length !== 'number') {
        throw new TypeError('samples must be a Float32Array or an array of numbers');
      }
      samples = Float32Array.from(samples);
    }
    if (samples.length > this.scratchSize) {
      if (this.scratch) e.free(this.scratch);
      this.scratchSize = Math.max(samples.length, 4096);
      this.scratch = e.malloc(this.scratchSize * 4);
      if (!this.scratch) {
        this.scratchSize = 0;
        this.core.check(OUT_OF_MEMORY, `${samples.length} samples`);
      }
    }
    new Float32Array(this.core.memory.buffer, this.scratch, samples.length).set(samples);
    this.core.check(e.QUORLAX_ListenerPush(this.ptr, this.scratch, samples.length));
    return this.drain();
  }

  /** End of stream: completes what is in flight and returns it. */
  flush() {
    const e = this.live();
    this.core.check(e.QUORLAX_ListenerFlush(this.ptr));
    return this.drain();
  }

  drain() {
    const e = this.core.exports;
    const L = this.core.layout.message;
    const out = [];
    for (;;) {
      const p = this.record;
      new DataView(this.core.memory.buffer).setUint32(p, L.size, true);  // the message's size field comes first
      const r = this.core.check(e.QUORLAX_ListenerNextEx(this.ptr, p));
      if (r === 0) return out;
      const v = new DataView(this.core.memory.buffer);
      const band = v.getInt32(p + L.band, true);
      out.push({
        text: this.core.cString(p + L.text, this.core.layout.messageLength + 1),
        ok: v.getInt32(p + L.ok, true) !== 0,
        band: this.core.modeName(band),
        start: Number(v.getBigInt64(p + L.start, true)),
        end: Number(v.getBigInt64(p + L.end, true)),
        levelDb: v.getFloat32(p + L.levelDb, true),
        confidence: v.getFloat32(p + L.confidence, true),
        pitchOffset: v.getFloat32(p + L.pitchOffset, true),
        tempoOffset: v.getFloat32(p + L.tempoOffset, true),
      });
    }
  }

  /** Releases the listener (also done when it is collected). */
  close() {
    if (!this.ptr) return;
    const e = this.core.exports;
    finalizer?.unregister(this.token);
    e.QUORLAX_ListenerDestroy(this.ptr);
    if (this.scratch) e.free(this.scratch);
    e.free(this.record);
    this.ptr = 0;
    this.scratch = 0;
  }
}
