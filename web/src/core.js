// quorlax.wasm and its C interface as JavaScript. No DOM and no Node APIs: the
// same file runs in Node, on a page and inside an AudioWorklet.

/** Mode names and the values of QUORLAX_MODE. */
export const MODES = Object.freeze({ audible: 2, nonaudible: 3, compression: 4, all: 5, custom: 6 });

// Result codes that the JavaScript side raises itself, with the library's texts.
const NOT_READY = -1;
const INVALID_ARGUMENT = -4;

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
