// quorlax.wasm and its C interface as JavaScript. No DOM and no Node APIs: the
// same file runs in Node, on a page and inside an AudioWorklet.

/** Mode names and the values of QUORLAX_MODE. */
export const MODES = Object.freeze({ audible: 2, nonaudible: 3, compression: 4, all: 5, custom: 6 });

// Result codes that the JavaScript side raises itself, with the library's texts.
const NOT_READY = -1;
const INVALID_ARGUMENT = -4;
export const UNSUPPORTED = -7;

// Which argument QUORLAXWEB_Encode found at fault (wasm/quorlax_web.cpp).
const FAULT_GRID = 1;
const FAULT_MODE = 2;
const FAULT_MESSAGE = 3;

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
  return new Core(instance);
}

/** One instance of the library. Every method runs synchronously. */
export class Core {
  constructor(instance) {
    this.exports = instance.exports;
    this.memory = instance.exports.memory;
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

  /** QUORLAX_MODE value of a name or number; anything else raises the library's code for an unknown mode. */
  modeValue(mode) {
    if (typeof mode === 'string' && Object.hasOwn(MODES, mode.toLowerCase())) return MODES[mode.toLowerCase()];
    if (Object.values(MODES).includes(mode)) return mode;
    const known = Object.entries(MODES).map(([name, v]) => `${name} (${v})`).join(', ');
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

  /** A QuorlaxError for a custom grid the library refused with `code`. */
  gridError(code, grid, rate) {
    if (code === INVALID_ARGUMENT) return this.invalid(`separation ${grid.separation}: it must be 0 or more`);
    if (code === NOT_READY) return new QuorlaxError(NOT_READY, 'base and separation apply to the custom mode only');
    return new QuorlaxError(code, this.errorText(code),
      `custom grid from ${grid.base} Hz with separation ${grid.separation}${rate ? ` at ${rate} Hz` : ''}`);
  }

  invalid(detail) {
    return new QuorlaxError(INVALID_ARGUMENT, this.errorText(INVALID_ARGUMENT), detail);
  }

  // Bytes of `text` in the heap, zero-terminated; characters above 0xff
  // become 0xff, which the alphabet check refuses like any other.
  withText(text, fn) {
    if (typeof text !== 'string') throw new TypeError('text must be a string');
    const ptr = this.exports.malloc(text.length + 1);
    try {
      const u8 = this.heapU8;
      for (let i = 0; i < text.length; i++) u8[ptr + i] = Math.min(text.charCodeAt(i), 0xff);
      u8[ptr + text.length] = 0;
      return fn(ptr, text.length);
    } finally {
      this.exports.free(ptr);
    }
  }

  /** One transmission of `text` (9 characters of 0-9, a-v) as float samples at `rate` Hz. */
  encode(text, { mode = 'audible', rate = 44100, base, separation } = {}) {
    const m = this.modeValue(mode);
    const r = this.rateValue(rate);
    const grid = this.gridValue(base, separation);
    if (grid && m !== MODES.custom) throw this.gridError(NOT_READY, grid);
    return this.withText(text, (ptr, len) => {
      // The sample array's address, then which argument the library refused.
      const out = this.exports.malloc(8);
      try {
        const n = this.exports.QUORLAXWEB_Encode(ptr, len, m, r, grid ? 1 : 0, grid?.base ?? 0, grid?.separation ?? 0, out, out + 4);
        if (n < 0) {
          const fault = new Int32Array(this.memory.buffer, out + 4, 1)[0];
          if (fault === FAULT_GRID || (fault === FAULT_MODE && grid)) throw this.gridError(n, grid, fault === FAULT_MODE ? r : 0);
          this.check(n, fault === FAULT_MESSAGE ? `message ${JSON.stringify(text)}: nine characters of 0-9 and a-v` : `mode ${m} at ${r} Hz`);
        }
        const samples = new Uint32Array(this.memory.buffer, out, 1)[0];
        const copy = new Float32Array(this.memory.buffer, samples, n).slice();
        this.exports.free(samples);
        return copy;
      } finally {
        this.exports.free(out);
      }
    });
  }
}

const BAND_NAMES = Object.freeze({ 2: 'audible', 3: 'nonaudible', 4: 'compression', 6: 'custom' });

// Views of the listener's records, from the module's own offsets.
function layoutOf(core) {
  if (!core._layout) {
    const a = new Int32Array(core.memory.buffer, core.exports.QUORLAXWEB_Layout(), 17).slice();
    core._layout = {
      message: { size: a[0], text: a[1], ok: a[2], band: a[3], start: a[4], end: a[5], levelDb: a[6], confidence: a[7] },
      band: { size: a[8], mode: a[9], decodingMode: a[10], name: a[11], numTones: a[12], toneHz: a[13], shiftHz: a[14], lowHz: a[15], highHz: a[16] },
    };
  }
  return core._layout;
}

/** Facts of one band at `rate` Hz (QUORLAX_GetBandInfo), or null where it does not fit. */
export function bandInfo(core, mode, rate) {
  const m = core.modeValue(mode);
  const r = core.rateValue(rate);
  const L = layoutOf(core).band;
  const ptr = core.exports.malloc(L.size);
  try {
    const code = core.exports.QUORLAX_GetBandInfo(m, r, ptr);
    if (code === UNSUPPORTED) return null;
    core.check(code, `mode ${m}`);
    const v = new DataView(core.memory.buffer);
    const n = v.getInt32(ptr + L.numTones, true);
    const toneHz = [];
    for (let i = 0; i < n; i++) toneHz.push(v.getFloat32(ptr + L.toneHz + 4 * i, true));
    return {
      mode: v.getInt32(ptr + L.mode, true),
      decodingMode: v.getInt32(ptr + L.decodingMode, true),
      name: core.cString(ptr + L.name, 16),
      toneHz,
      shiftHz: v.getFloat32(ptr + L.shiftHz, true),
      lowHz: v.getFloat32(ptr + L.lowHz, true),
      highHz: v.getFloat32(ptr + L.highHz, true),
    };
  } finally {
    core.exports.free(ptr);
  }
}

/** The bands a listener in `mode` hears at `rate` Hz that fit there (all three for "all"). */
export function bandsHeard(core, mode, rate) {
  const m = core.modeValue(mode);
  const modes = m === MODES.all ? [MODES.audible, MODES.nonaudible, MODES.compression] : [m];
  return modes.map((b) => bandInfo(core, b, rate)).filter(Boolean);
}

function describe(value) {
  return typeof value === 'string' ? JSON.stringify(value) : String(value);
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
    const grid = core.gridValue(base, separation);
    const e = core.exports;
    const err = e.malloc(4);
    let ptr;
    try {
      new Int32Array(core.memory.buffer, err, 1)[0] = 0;
      ptr = e.QUORLAX_ListenerCreate(m, r, err);
      if (!ptr) core.check(new Int32Array(core.memory.buffer, err, 1)[0] || UNSUPPORTED, `mode ${m} at ${r} Hz`);
    } finally {
      e.free(err);
    }
    try {
      if (grid) {
        const code = e.QUORLAX_ListenerSetCustom(ptr, grid.base, grid.separation);
        if (code < 0) throw core.gridError(code, grid, r);
      }
      if (reportFailed) core.check(e.QUORLAX_ListenerReportFailed(ptr, 1));
    } catch (x) {
      e.QUORLAX_ListenerDestroy(ptr);
      throw x;
    }
    this.core = core;
    this.ptr = ptr;
    this.mode = m;
    this.rate = r;
    this.scratch = 0;
    this.scratchSize = 0;
    this.record = e.malloc(layoutOf(core).message.size);
    this.token = {};
    finalizer?.register(this, { core, ptr }, this.token);
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
        this.core.check(UNSUPPORTED, 'out of memory');
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
    const L = layoutOf(this.core).message;
    const out = [];
    for (;;) {
      const r = this.core.check(e.QUORLAX_ListenerNext(this.ptr, this.record));
      if (r === 0) return out;
      const v = new DataView(this.core.memory.buffer);
      const p = this.record;
      const band = v.getInt32(p + L.band, true);
      out.push({
        text: this.core.cString(p + L.text, 10),
        ok: v.getInt32(p + L.ok, true) !== 0,
        band: BAND_NAMES[band] ?? String(band),
        start: Number(v.getBigInt64(p + L.start, true)),
        end: Number(v.getBigInt64(p + L.end, true)),
        levelDb: v.getFloat32(p + L.levelDb, true),
        confidence: v.getFloat32(p + L.confidence, true),
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
