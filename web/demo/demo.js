// The demo page: play a message, or listen with a live spectrogram, the band
// grids the library reports and every message heard.
import * as quorlax from '../dist/index.js';

const $ = (id) => document.getElementById(id);
const BAND_COLOURS = { audible: '#4fc3f7', nonaudible: '#ffb74d', compression: '#aed581', custom: '#f06292' };

let context = null;
function audioContext() {
  context ??= new AudioContext();
  return context;
}

const ready = quorlax.load().then(() => {
  $('version').textContent = quorlax.version();
});

/** Plays the form's message on `context` (the page's AudioContext by default). */
export async function send({ context: ctx, destination } = {}) {
  await ready;
  const text = $('text').value.trim();
  const mode = $('send-mode').value;
  const status = $('send-status');
  status.classList.remove('error');
  try {
    const playing = await quorlax.play(text, { context: ctx ?? audioContext(), destination, mode });
    status.textContent = `Playing ${text} in the ${mode} band (${playing.duration.toFixed(2)} s at ${playing.rate} Hz)`;
    playing.ended.then(() => {
      if (status.textContent.startsWith('Playing')) status.textContent = `Played ${text}.`;
    });
    return playing;
  } catch (e) {
    status.classList.add('error');
    status.textContent = e instanceof quorlax.QuorlaxError ? `${e.message} [code ${e.code}]` : String(e);
    return null;
  }
}

$('send-form').addEventListener('submit', (ev) => {
  ev.preventDefault();
  send();
});

// --- Listening -------------------------------------------------------------

let session = null;
let drawing = 0;

function addMessage(m, rate) {
  const row = document.createElement('tr');
  if (!m.ok) row.className = 'failed';
  const cells = [
    `${new Date().toLocaleTimeString()} (${(m.start / rate).toFixed(2)} s)`,
    m.text,
    m.ok ? 'ok' : 'failed',
    m.band,
    `${m.levelDb.toFixed(1)} dB`,
    m.confidence.toFixed(2),
  ];
  cells.forEach((c, i) => {
    const td = document.createElement('td');
    td.textContent = c;
    if (i === 1) td.className = 'text';
    row.append(td);
  });
  row.dataset.text = m.text;
  row.dataset.band = m.band;
  $('heard').tBodies[0].prepend(row);
}

function drawSpectrogram(canvas, analyser, bands, rate) {
  const g = canvas.getContext('2d');
  const w = canvas.width;
  const h = canvas.height;
  // The picture scrolls in its own canvas; grids and labels are laid over it each frame.
  const picture = document.createElement('canvas');
  picture.width = w;
  picture.height = h;
  const p = picture.getContext('2d');
  p.fillStyle = '#000';
  p.fillRect(0, 0, w, h);
  const nyquist = rate / 2;
  const bins = new Float32Array(analyser.frequencyBinCount);
  const column = p.createImageData(1, h);
  const y = (hz) => h - 1 - Math.round((hz / nyquist) * (h - 1));
  const frame = () => {
    analyser.getFloatFrequencyData(bins);
    p.drawImage(picture, 1, 0, w - 1, h, 0, 0, w - 1, h);
    for (let row = 0; row < h; row++) {
      const hz = ((h - 1 - row) / (h - 1)) * nyquist;
      const db = bins[Math.min(bins.length - 1, Math.round((hz / nyquist) * (bins.length - 1)))];
      const v = Math.max(0, Math.min(1, (db + 120) / 90));
      const o = row * 4;
      column.data[o] = 255 * Math.min(1, v * 1.6);
      column.data[o + 1] = 255 * Math.max(0, v * 1.6 - 0.6);
      column.data[o + 2] = 160 * v * (1 - v) + 40 * v;
      column.data[o + 3] = 255;
    }
    p.putImageData(column, w - 1, 0);
    g.drawImage(picture, 0, 0);
    g.save();
    g.font = '12px system-ui';
    g.fillStyle = '#bbb';
    for (let khz = 2; khz < nyquist / 1000; khz += 2) g.fillText(`${khz} kHz`, w - 44, y(khz * 1000) + 4);
    for (const b of bands) {
      const colour = BAND_COLOURS[b.name] ?? '#fff';
      g.strokeStyle = colour;
      g.globalAlpha = 0.7;
      g.beginPath();
      for (const hz of b.toneHz) {
        g.moveTo(0, y(hz) + 0.5);
        g.lineTo(10, y(hz) + 0.5);
      }
      g.stroke();
      g.globalAlpha = 1;
      g.fillStyle = colour;
      g.fillRect(12, y(b.highHz), 3, Math.max(1, y(b.lowHz) - y(b.highHz)));
      g.fillText(b.name, 18, (y(b.highHz) + y(b.lowHz)) / 2 + 4);
    }
    g.restore();
    drawing = requestAnimationFrame(frame);
  };
  drawing = requestAnimationFrame(frame);
}

/** Starts listening on `stream` (the microphone, filters off, by default). */
export async function startListening({ stream, context: ctx = audioContext() } = {}) {
  await ready;
  const status = $('listen-status');
  status.classList.remove('error');
  if (typeof quorlax.listen !== 'function') {
    status.textContent = 'This build of the package cannot listen yet.';
    return null;
  }
  try {
    const heard = await quorlax.listen(stream ?? null, (m) => addMessage(m, heard.rate), { context: ctx, mode: 'all' });
    const analyser = new AnalyserNode(ctx, { fftSize: 2048, smoothingTimeConstant: 0 });
    heard.source.connect(analyser);
    const bands = quorlax.bands(heard.rate, 'all');
    drawSpectrogram($('spectrogram'), analyser, bands, ctx.sampleRate);
    status.textContent = `Listening at ${ctx.sampleRate} Hz` +
      (heard.resampled ? ` (resampled to ${heard.rate} Hz)` : '') + `: ${bands.map((b) => b.name).join(', ')}`;
    session = heard;
    $('listen').textContent = 'Stop';
    $('listen').classList.add('on');
    return heard;
  } catch (e) {
    status.classList.add('error');
    status.textContent = e instanceof quorlax.QuorlaxError ? `${e.message} [code ${e.code}]` : String(e);
    return null;
  }
}

export async function stopListening() {
  if (!session) return;
  cancelAnimationFrame(drawing);
  const s = session;
  session = null;
  await s.stop();
  $('listen').textContent = 'Listen';
  $('listen').classList.remove('on');
  $('listen-status').textContent = 'Stopped.';
}

$('listen').addEventListener('click', () => (session ? stopListening() : startListening()));

// For the browser tests and the console.
window.quorlaxDemo = { send, startListening, stopListening, ready, quorlax };
