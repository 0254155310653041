// The live view: takes frames and camera status from the viewer's WebSocket,
// draws the newest frame in false colour and sends the controls' commands.
'use strict';

const HEADER_MAGIC = 'LVTF';

// Colour maps as control points from the smallest (0) to the largest value (1).
const COLORMAPS = {
  'blue-yellow': [[68, 1, 84], [59, 82, 139], [33, 145, 140], [94, 201, 98], [253, 231, 37]],
  'rainbow': [[48, 18, 59], [40, 140, 250], [30, 220, 140], [250, 200, 40], [220, 50, 20], [122, 4, 3]],
  'grey': [[0, 0, 0], [255, 255, 255]],
};

const $ = (id) => document.getElementById(id);

const page = {
  ws: null,
  latest: null,        // newest frame received, not yet drawn
  shown: null,         // the frame on screen
  framesShown: 0,
  viewerDropped: 0,    // frames the viewer did not send because this page was busy
  shownTimes: [],      // page clock of the last draws, for frames/s
  latencies: [],       // ms from vyxpUpdate returning to the frame drawn
  nextId: 1,
  connections: 0,      // WebSockets opened so far
  lut: null,
  state: 'reconnecting',
  status: null,        // the viewer's last status message
};
window.lvtPage = page;  // for tests and benchmarks

function buildLut(name) {
  const points = COLORMAPS[name] || COLORMAPS['blue-yellow'];
  const lut = new Uint8ClampedArray(256 * 3);
  for (let i = 0; i < 256; i++) {
    const t = (i / 255) * (points.length - 1);
    const k = Math.min(Math.floor(t), points.length - 2);
    const f = t - k;
    for (let c = 0; c < 3; c++) lut[3 * i + c] = Math.round(points[k][c] + f * (points[k + 1][c] - points[k][c]));
  }
  return lut;
}

// Header layout: see the viewer's frame_encoding.h.
function parseFrame(buffer) {
  const v = new DataView(buffer);
  const magic = String.fromCharCode(v.getUint8(0), v.getUint8(1), v.getUint8(2), v.getUint8(3));
  if (magic !== HEADER_MAGIC) throw new Error('not a frame message');
  const headerBytes = v.getUint32(4, true);
  const rows = v.getUint32(24, true);
  const columns = v.getUint32(28, true);
  const pixels = rows * columns;
  if (buffer.byteLength < headerBytes + 8 * pixels) throw new Error('frame message cut short');
  return {
    number: Number(v.getBigUint64(8, true)),
    updateMs: v.getFloat64(16, true),
    rows, columns,
    scale: v.getFloat32(32, true),
    itimes: [v.getUint32(36, true), v.getUint32(40, true)],
    distance: new Float32Array(buffer.slice(headerBytes, headerBytes + 4 * pixels)),
    amplitude: new Float32Array(buffer.slice(headerBytes + 4 * pixels, headerBytes + 8 * pixels)),
  };
}

function finiteRange(values) {
  let lo = Infinity, hi = -Infinity;
  for (const x of values) {
    if (Number.isFinite(x)) { if (x < lo) lo = x; if (x > hi) hi = x; }
  }
  return lo <= hi ? [lo, hi] : [0, 1];
}

function rangeFor(name, values) {
  if ($(name + '-auto').checked) return finiteRange(values);
  const lo = parseFloat($(name + '-low').value), hi = parseFloat($(name + '-high').value);
  return Number.isFinite(lo) && Number.isFinite(hi) && hi > lo ? [lo, hi] : finiteRange(values);
}

function drawImage(name, values, rows, columns) {
  const canvas = $(name);
  if (canvas.width !== columns || canvas.height !== rows) { canvas.width = columns; canvas.height = rows; }
  const [lo, hi] = rangeFor(name, values);
  const span = hi > lo ? hi - lo : 1;
  const ctx = canvas.getContext('2d');
  const image = ctx.createImageData(columns, rows);
  const px = image.data, lut = page.lut;
  for (let i = 0; i < values.length; i++) {
    const x = values[i];
    const k = Number.isFinite(x) ? 3 * Math.max(0, Math.min(255, Math.round(((x - lo) / span) * 255))) : 0;
    px[4 * i] = lut[k]; px[4 * i + 1] = lut[k + 1]; px[4 * i + 2] = lut[k + 2]; px[4 * i + 3] = 255;
  }
  ctx.putImageData(image, 0, 0);
  const digits = name === 'distance' ? 3 : 0;
  $(name + '-min').textContent = lo.toFixed(digits);
  $(name + '-max').textContent = hi.toFixed(digits);
}

function drawColourBars() {
  for (const name of ['distance', 'amplitude']) {
    const bar = $(name + '-bar');
    const ctx = bar.getContext('2d');
    const image = ctx.createImageData(256, 1);
    for (let i = 0; i < 256; i++) {
      image.data.set([page.lut[3 * i], page.lut[3 * i + 1], page.lut[3 * i + 2], 255], 4 * i);
    }
    ctx.putImageData(image, 0, 0);
  }
}

function render(f) {
  drawImage('distance', f.distance.map((x) => x * f.scale), f.rows, f.columns);
  drawImage('amplitude', f.amplitude, f.rows, f.columns);
}

function draw() {
  const f = page.latest;
  if (!f) return;
  page.latest = null;
  render(f);
  page.shown = f;
  page.framesShown++;
  const now = performance.timeOrigin + performance.now();
  page.latencies.push(now - f.updateMs);
  if (page.latencies.length > 2000) page.latencies.splice(0, 1000);
  page.shownTimes.push(now);
  while (page.shownTimes.length && now - page.shownTimes[0] > 2000) page.shownTimes.shift();
  $('frame-count').textContent = String(page.framesShown);
  $('frame-itimes').textContent = f.itimes.join(' / ') + ' µs';
  showRates();
}

// Frames drawn over the last two seconds; 0 once none came in that time, and while the camera
// does not stream.
function showRates() {
  const now = performance.timeOrigin + performance.now();
  const t = page.shownTimes;
  while (t.length && now - t[0] > 2000) t.shift();
  const rate = t.length >= 2 && page.state === 'streaming' ? ((t.length - 1) * 1000) / (t[t.length - 1] - t[0]) : 0;
  $('shown-fps').textContent = rate.toFixed(1);
  $('dropped').textContent = String(page.viewerDropped);
}

// Drawn at once, then the viewer is told so: it sends a page at most two
// frames ahead of what it has drawn and replaces the others with newer ones
// (counted as dropped), so a slow page shows fewer frames but current ones.
function onFrame(buffer, ws) {
  let f;
  try { f = parseFrame(buffer); } catch (e) { console.error(e); return; }
  page.latest = f;
  draw();
  if (ws.readyState === WebSocket.OPEN) ws.send('{"op":"drawn"}');
}

function setState(state) {
  page.state = state;
  $('camera-state').textContent = state;
  document.body.dataset.state = state;
  $('pause').textContent = state === 'paused' ? 'resume' : 'pause';
}

// The read-back beside each input; the input itself follows the camera's value until the user
// types into it, and again once the value was sent.
function showSetting(name, value) {
  $(name + '-read').textContent = value === null ? '?' : String(value);
  const input = $(name);
  if (value !== null && !input.dataset.edited && document.activeElement !== input) input.value = String(value);
}

function showRange(name, range) {
  if (!range) return;
  const input = $(name);
  input.min = String(range.min);
  const unknown = range.max >= 2147483647;  // the camera has not shown its limit yet
  if (unknown) input.removeAttribute('max'); else input.max = String(range.max);
  $(name + '-range').textContent = unknown ? `range from ${range.min}` : `range ${range.min} to ${range.max}`;
}

function onStatus(s) {
  page.status = s;
  setState(s.state);
  $('camera-address').textContent = s.address;
  $('camera-fps').textContent = s.camera_fps.toFixed(1);
  $('problem').textContent = s.problem || '';
  for (const name of ['itime0', 'itime1', 'fps']) {
    showSetting(name, s.settings[name]);
    if (s.ranges) showRange(name, s.ranges[name]);
  }
  page.viewerDropped = s.frames_dropped || 0;
  const r = s.recording;
  $('record').textContent = r.on ? 'stop recording' : 'start recording';
  $('record-state').textContent = r.error ? 'recording failed: ' + r.error
    : r.dir ? (r.on ? 'recording ' : 'recorded ') + r.frames + ' frames into ' + r.dir : '';
  showRates();
}

function onReply(r) {
  if (r.settings) for (const name of ['itime0', 'itime1', 'fps']) showSetting(name, r.settings[name]);
  if (r.ok) { $('control-error').textContent = ''; return; }
  // The message names the call, the code and the plug-in's text once.
  const e = r.error || {};
  $('control-error').textContent = 'refused: ' + (e.message || 'unknown reason');
}

function onText(text) {
  let m;
  try { m = JSON.parse(text); } catch (e) { console.error('not JSON from the viewer', text); return; }
  if (m.type === 'status') onStatus(m);
  else if (m.type === 'reply') onReply(m);
  else if (m.type === 'error') $('control-error').textContent = 'the viewer refused a message: ' + m.message;
}

function connect() {
  const ws = new WebSocket(`ws://${location.host}/ws`);
  ws.binaryType = 'arraybuffer';
  ws.onmessage = (ev) => (typeof ev.data === 'string' ? onText(ev.data) : onFrame(ev.data, ws));
  ws.onclose = () => {
    if (page.ws === ws) page.ws = null;
    setState('reconnecting');
    $('problem').textContent = 'the viewer does not answer; trying again';
    setTimeout(connect, 1000);
  };
  page.ws = ws;
  page.connections++;
}

function send(command) {
  if (!page.ws || page.ws.readyState !== WebSocket.OPEN) {
    $('control-error').textContent = 'not connected to the viewer';
    return;
  }
  command.id = page.nextId++;
  page.ws.send(JSON.stringify(command));
}

// A number field holding letters reads as "" (and Number("") is 0): only digits are sent.
function sendSetting(name) {
  const input = $(name);
  const text = input.value.trim();
  if (input.validity.badInput || !/^[0-9]+$/.test(text)) {
    $('control-error').textContent = name + ': enter a whole number; nothing was sent';
    return;
  }
  delete input.dataset.edited;
  send({ op: 'set', name, value: Number(text) });
}

function showPixel(ev, canvas) {
  const f = page.shown;
  if (!f) return;
  const rect = canvas.getBoundingClientRect();
  const column = Math.floor(((ev.clientX - rect.left) / rect.width) * f.columns);
  const row = Math.floor(((ev.clientY - rect.top) / rect.height) * f.rows);
  if (row < 0 || column < 0 || row >= f.rows || column >= f.columns) return;
  const i = row * f.columns + column;
  $('pixel-info').textContent =
    `row ${row}, column ${column}: distance ${(f.distance[i] * f.scale).toFixed(3)} m, amplitude ${f.amplitude[i].toFixed(1)}`;
}

function download(blob, name) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

// NumPy format 1.0: float32 little-endian, shape (2, rows, columns): distance (m), amplitude.
function npyBlob(f) {
  let header = `{'descr': '<f4', 'fortran_order': False, 'shape': (2, ${f.rows}, ${f.columns}), }`;
  const total = 10 + header.length + 1;
  header += ' '.repeat((64 - (total % 64)) % 64) + '\n';
  const head = new Uint8Array(10 + header.length);
  head.set([0x93, 0x4e, 0x55, 0x4d, 0x50, 0x59, 1, 0, header.length & 0xff, header.length >> 8]);
  for (let i = 0; i < header.length; i++) head[10 + i] = header.charCodeAt(i);
  const data = new Float32Array(2 * f.rows * f.columns);
  data.set(f.distance.map((x) => x * f.scale), 0);
  data.set(f.amplitude, f.rows * f.columns);
  return new Blob([head, data.buffer], { type: 'application/octet-stream' });
}

function snapshotPng(f) {
  const a = $('distance'), b = $('amplitude');
  const c = document.createElement('canvas');
  c.width = a.width + b.width;
  c.height = Math.max(a.height, b.height);
  const ctx = c.getContext('2d');
  ctx.drawImage(a, 0, 0);
  ctx.drawImage(b, a.width, 0);
  c.toBlob((blob) => download(blob, `frame_${f.number}.png`), 'image/png');
}

function init() {
  page.lut = buildLut($('colormap').value);
  drawColourBars();
  $('colormap').onchange = () => { page.lut = buildLut($('colormap').value); drawColourBars(); redraw(); };
  for (const name of ['distance', 'amplitude']) {
    $(name).onmousemove = (ev) => showPixel(ev, $(name));
    for (const id of ['-auto', '-low', '-high']) $(name + id).onchange = redraw;
  }
  for (const name of ['itime0', 'itime1', 'fps']) {
    $('set-' + name).onclick = () => sendSetting(name);
    $(name).oninput = () => { $(name).dataset.edited = '1'; };
  }
  setInterval(showRates, 500);  // the rate falls to 0 when frames stop coming
  $('pause').onclick = () => send({ op: page.state === 'paused' ? 'resume' : 'pause' });
  $('record').onclick = () => send({ op: 'record', on: $('record').textContent.startsWith('start') });
  $('snapshot-npy').onclick = () => page.shown && download(npyBlob(page.shown), `frame_${page.shown.number}.npy`);
  $('snapshot-png').onclick = () => page.shown && snapshotPng(page.shown);
  connect();
}

// Draws the frame on screen again, e.g. after the colour map changed.
function redraw() {
  if (page.shown) render(page.shown);
}

init();
