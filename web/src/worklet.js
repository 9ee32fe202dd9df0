// The listener in an AudioWorklet: resamples when the context's rate is not
// one the bands can be heard at, pushes the audio to the WebAssembly listener
// and posts every message it completes to the node's port.
import { CoreListener, instantiate } from './core.js';

// Pushes of about this many samples keep calls into the module few.
const BATCH = 1024;
// Audio held while the module compiles: a few seconds is plenty.
const MAX_PENDING = 1 << 19;

/**
 * Reads one clean transmission in the listener's mode on a throwaway listener.
 * JavaScriptCore runs a WebAssembly function slowly on its first calls (it
 * compiles in tiers as they come), and WebKit's media path fills a stall of
 * the audio thread with as much silence: one listener's first reading took
 * 200 to 370 ms within one render quantum, and the transmission it was
 * reading was lost. Done before listening, that cost falls where no audio is due.
 */
function rehearse(core, options) {
  const listener = new CoreListener(core, options);
  try {
    const { mode, rate, base, separation } = options;
    const sent = core.encode('rehears12', { mode, rate, base, separation });
    // Half a second of silence on each side: the door search starts from quiet.
    const pad = Math.floor(rate / 2);
    const audio = new Float32Array(sent.length + 2 * pad);
    audio.set(sent, pad);
    for (let i = 0; i < audio.length; i += BATCH) listener.push(audio.subarray(i, i + BATCH));
    listener.flush();
  } finally {
    listener.close();
  }
}

class QuorlaxListenerProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.options = options.processorOptions;
    this.batch = new Float32Array(BATCH * 2);
    this.filled = 0;
    this.pending = [];
    this.pendingSamples = 0;
    this.listener = null;
    this.resampler = null;
    this.stopped = false;
    this.port.onmessage = (e) => this.command(e.data);
    this.start().catch((e) => this.fail(e));
  }

  async start() {
    const o = this.options;
    const core = await instantiate(o.wasm);
    this.listener = new CoreListener(core, o.listener);
    rehearse(core, o.listener);
    if (o.inputRate !== o.listener.rate) {
      const lsr = globalThis.LibSampleRate;
      if (!lsr) throw new Error('quorlax: the resampler module was not loaded into the worklet');
      this.resampler = await lsr.create(1, o.inputRate, o.listener.rate, { converterType: lsr.ConverterType.SRC_SINC_FASTEST });
    }
    for (const chunk of this.pending) this.feed(chunk);
    this.pending = null;
    this.port.postMessage({ type: 'ready' });
  }

  fail(e) {
    this.stopped = true;
    this.port.postMessage({ type: 'error', message: e?.message ?? String(e), code: e?.code, name: e?.name });
  }

  post(messages) {
    for (const m of messages) this.port.postMessage({ type: 'message', message: m });
  }

  feed(samples) {
    const x = this.resampler ? this.resampler.full(samples) : samples;
    if (this.filled + x.length > this.batch.length) {
      const grown = new Float32Array((this.filled + x.length) * 2);
      grown.set(this.batch.subarray(0, this.filled));
      this.batch = grown;
    }
    this.batch.set(x, this.filled);
    this.filled += x.length;
    if (this.filled >= BATCH) {
      this.post(this.listener.push(this.batch.subarray(0, this.filled)));
      this.filled = 0;
    }
  }

  command(data) {
    if (data?.type !== 'stop' || this.stopped) return;
    this.stopped = true;
    try {
      if (this.listener) {
        this.post(this.listener.push(this.batch.subarray(0, this.filled)));
        this.post(this.listener.flush());
        this.listener.close();
      }
    } catch (e) {
      this.fail(e);
    }
    this.resampler?.destroy();
    this.port.postMessage({ type: 'stopped' });
  }

  process(inputs) {
    if (this.stopped) return false;
    const channel = inputs[0]?.[0];
    if (!channel) return true;
    try {
      if (this.pending) {
        if (this.pendingSamples < MAX_PENDING) {
          this.pending.push(channel.slice());
          this.pendingSamples += channel.length;
        }
      } else {
        this.feed(channel);
      }
    } catch (e) {
      this.fail(e);
      return false;
    }
    return true;
  }
}

registerProcessor('quorlax-listener', QuorlaxListenerProcessor);
