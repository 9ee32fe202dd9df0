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

// What the page is playing (a new play stops it), and the play whose end the
// status line may report: none after an error, only the latest otherwise.
let onAir = null;
let reported = null;

/** Plays the form's message on `context` (the page's AudioContext by default). */
export async function send({ context: ctx, destination } = {}) {
  await ready;
  const text = $('text').value.trim();
  const mode = $('send-mode').value;
  const status = $('send-status');
  status.classList.remove('error');
  try {
    const playing = await quorlax.play(text, { context: ctx ?? audioContext(), destination, mode });
    // Both are scheduled for the same render quantum: the old one stops as the new one starts.
    onAir?.source.stop();
    onAir = reported = playing;
    status.textContent = `Playing ${text} in the ${mode} band (${playing.duration.toFixed(2)} s at ${playing.rate} Hz)`;
    playing.ended.then(() => {
      if (onAir === playing) onAir = null;
      if (reported !== playing) return;
      reported = null;
      status.textContent = `Played ${text}.`;
    });
    return playing;
  } catch (e) {
    reported = null;
    status.classList.add('error');
    status.textContent = explain(e);
    return null;
  }
}

/** An error as the page shows it: the package's sentence and code, else the error itself. */
function explain(e) {
  if (e instanceof quorlax.QuorlaxError || e instanceof quorlax.QuorlaxPlatformError) return `${e.message} [code ${e.code}]`;
  return String(e);
}

$('send-form').addEventListener('submit', (ev) => {
  ev.preventDefault();
  send();
});

// --- Listening -------------------------------------------------------------

let session = null;
let drawing = 0;

// An offset as a signed percentage, "+0.23 %".
function percent(offset) {
  return `${offset >= 0 ? '+' : ''}${(100 * offset).toFixed(2)} %`;
}

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
    `${percent(m.pitchOffset)} / ${percent(m.tempoOffset)}`,
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

// Margins beside the picture: band grids and names on the left, the kHz scale
// on the right, so that no label covers the spectrum.
const BAND_MARGIN = 96;
const SCALE_MARGIN = 52;

function drawSpectrogram(canvas, analyser, bands, rate) {
  const g = canvas.getContext('2d');
  const h = canvas.height;
  const w = canvas.width - BAND_MARGIN - SCALE_MARGIN;
  // The picture scrolls in its own canvas, drawn between the margins each frame.
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
    g.fillStyle = '#14161c';
    g.fillRect(0, 0, canvas.width, h);
    g.drawImage(picture, BAND_MARGIN, 0);
    g.save();
    g.font = '12px system-ui';
    g.textBaseline = 'middle';
    g.fillStyle = '#bbb';
    const clampY = (v) => Math.max(7, Math.min(h - 7, v));
    for (let khz = 2; khz < nyquist / 1000; khz += 2) g.fillText(`${khz} kHz`, BAND_MARGIN + w + 6, clampY(y(khz * 1000)));
    for (const b of bands) {
      const colour = BAND_COLOURS[b.name] ?? '#fff';
      g.strokeStyle = colour;
      g.beginPath();
      for (const hz of b.toneHz) {
        g.moveTo(BAND_MARGIN - 10, y(hz) + 0.5);
        g.lineTo(BAND_MARGIN, y(hz) + 0.5);
      }
      g.stroke();
      g.fillStyle = colour;
      g.fillRect(BAND_MARGIN - 14, y(b.highHz), 3, Math.max(1, y(b.lowHz) - y(b.highHz)));
      g.textAlign = 'right';
      g.fillText(b.name, BAND_MARGIN - 18, clampY((y(b.highHz) + y(b.lowHz)) / 2));
      g.textAlign = 'start';
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
    status.textContent = explain(e);
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
