// quorlax.wasm and its C interface as JavaScript. No DOM and no Node APIs: the
// same file runs in Node, on a page and inside an AudioWorklet.

/** Mode names and the values of QUORLAX_MODE. */
export const MODES = Object.freeze({ audible: 2, nonaudible: 3, compression: 4, all: 5, custom: 6 });

// Result codes that the JavaScript side raises itself, with the library's texts.
const NOT_READY = -1;
const INVALID_ARGUMENT = -4;
export const UNSUPPORTED = -7;

/** A library result code as an exception: `code` is the code, `message` its text. */
export class QuorlaxError extends Error {
  constructor(code, message, detail) {
    super(detail ? `${message} (${detail})` : message);
    this.name = 'QuorlaxError';
    this.code = code;
  }
}

/** Compiles (if given bytes) and instantiates quorlax.wasm. */
export async function instantiate(source) {
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

  /** QUORLAX_MODE value of a name or number; unknown names raise the library's code for them. */
  modeValue(mode) {
    if (typeof mode === 'number' && Number.isInteger(mode)) return mode;
    if (typeof mode === 'string' && Object.hasOwn(MODES, mode.toLowerCase())) return MODES[mode.toLowerCase()];
    throw new QuorlaxError(NOT_READY, this.errorText(NOT_READY), `mode ${JSON.stringify(mode)}`);
  }

  rateValue(rate) {
    if (typeof rate !== 'number') throw new QuorlaxError(INVALID_ARGUMENT, this.errorText(INVALID_ARGUMENT), 'rate must be a number');
    return rate;
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
    const custom = base !== undefined || separation !== undefined;
    return this.withText(text, (ptr, len) => {
      const out = this.exports.malloc(4);
      try {
        const n = this.exports.QUORLAXWEB_Encode(ptr, len, m, r, custom ? 1 : 0, base ?? 0, separation ?? 0, out);
        this.check(n, n === INVALID_ARGUMENT ? `message ${JSON.stringify(text)}` : `mode ${m} at ${r} Hz`);
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
      if (base !== undefined || separation !== undefined) core.check(e.QUORLAX_ListenerSetCustom(ptr, base ?? 0, separation ?? 0), 'custom grid');
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
