// A private PulseAudio server with a null sink, as tests/device/sound_server.py
// starts for the native tests: Firefox plays and captures only through a
// sound server, and the sink's monitor, its default source, is the microphone
// that a WAV played into the sink reaches.
import { execFile, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { promisify } from 'node:util';

const run = promisify(execFile);
const SINK = 'quorlax_test';

/** Why no sound server can start here, or false. */
export function soundServerMissing() {
  return ['/usr/bin/pulseaudio', '/usr/bin/pactl', '/usr/bin/paplay'].every(existsSync)
    ? false : 'no pulseaudio here (apt-get install pulseaudio pulseaudio-utils)';
}

/** Starts the server; resolves to { env, play(file), stop() }. */
export async function startSoundServer() {
  const dir = mkdtempSync(join(tmpdir(), 'quorlax-pulse-'));
  const socket = join(dir, 'native');
  const env = { ...process.env, PULSE_SERVER: `unix:${socket}`, HOME: dir, XDG_RUNTIME_DIR: dir,
    PULSE_RUNTIME_PATH: dir, PULSE_STATE_PATH: join(dir, 'state') };
  delete env.PULSE_SINK;
  delete env.PULSE_SOURCE;
  let log = '';
  const server = spawn('pulseaudio', ['-n', '--daemonize=no', '--exit-idle-time=-1', '--use-pid-file=no',
    '--disable-shm=yes', '-F', '/dev/null', '--log-target=stderr',
    `--load=module-null-sink sink_name=${SINK} rate=48000 channels=2`,
    `--load=module-native-protocol-unix socket=${socket} auth-anonymous=1`], { env, stdio: ['ignore', 'ignore', 'pipe'] });
  server.stderr.on('data', (d) => {
    log = (log + d).slice(-4000);
  });
  const stop = async () => {
    if (server.exitCode === null && server.signalCode === null) {
      await new Promise((resolve) => {
        server.once('exit', resolve);
        server.kill();
      });
    }
    rmSync(dir, { recursive: true, force: true });
  };
  const until = Date.now() + 15000;
  for (;;) {
    if (server.exitCode !== null) break;
    if (existsSync(socket)) {
      try {
        await run('pactl', ['info'], { env, timeout: 10000 });
        return { env, play: (file) => run('paplay', [`--device=${SINK}`, file], { env }), stop };
      } catch {
        // not answering yet
      }
    }
    if (Date.now() > until) break;
    await new Promise((r) => setTimeout(r, 100));
  }
  await stop();
  throw new Error(`pulseaudio did not come up:\n${log}`);
}
