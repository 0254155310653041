// The live view: takes frames and camera status from the viewer's WebSocket,
// draws the newest frame in false colour and sends the controls' commands.
// A panel per camera: one camera keeps the page's element ids as they are; in a rig each
// camera's panel is a copy whose ids end in -N (distance-0, camera-state-1, ...), with a
// WebSocket of its own (/ws?camera=N). Recording is the rig's: one button for all cameras.
'use strict';

const HEADER_MAGIC = 'LVTF';

// Colour maps as control points from the smallest (0) to the largest value (1).
const COLORMAPS = {
  'blue-yellow': [[68, 1, 84], [59, 82, 139], [33, 145, 140], [94, 201, 98], [253, 231, 37]],
  'rainbow': [[48, 18, 59], [40, 140, 250], [30, 220, 140], [250, 200, 40], [220, 50, 20], [122, 4, 3]],
  'grey': [[0, 0, 0], [255, 255, 255]],
};

// Pixels the filters found unusable (NaN distance): a colour no map ends in.
const INVALID_COLOUR = [255, 0, 255];
const FILTER_NAMES = ['min_amplitude', 'saturation', 'min_distance', 'max_distance', 'flying_threshold', 'temporal_median'];

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
    nominalLens: (v.getUint32(48, true) & 1) !== 0,
    filtersOn: (v.getUint32(48, true) & 2) !== 0,
    validCount: v.getUint32(52, true),
    replayFrames: Number(v.getBigUint64(56, true)),
    distance: new Float32Array(buffer.slice(headerBytes, headerBytes + 4 * pixels)),
    amplitude: new Float32Array(buffer.slice(headerBytes + 4 * pixels, headerBytes + 8 * pixels)),
    points: v.getUint32(44, true) >= 3 && buffer.byteLength >= headerBytes + 20 * pixels
      ? new Float32Array(buffer.slice(headerBytes + 8 * pixels, headerBytes + 20 * pixels)) : null,
  };
}

function finiteRange(values) {
  let lo = Infinity, hi = -Infinity;
  for (const x of values) {
    if (Number.isFinite(x)) { if (x < lo) lo = x; if (x > hi) hi = x; }
  }
  return lo <= hi ? [lo, hi] : [0, 1];
}

// One camera's panel under root; suffix ends each element id ('' or '-N'); camera is the
// viewer's index and name of the camera; recordHere: this panel's socket carries the record
// button's commands.
function Panel(root, suffix, camera, recordHere) {
  const $ = (id) => document.getElementById(id + suffix);
  const rig$ = (id) => document.getElementById(id);  // the rig's elements: one for all panels
  const snapshotPrefix = suffix ? camera.name + '_' : '';
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
    history: [],         // the last frames' distances (m), newest last, for the temporal noise
    region: null,        // {r0, c0, r1, c1}: the rectangle whose statistics are shown
    zoom: { scale: 1, x: 0, y: 0 },  // of both images, in screen pixels
    view3d: null,        // the 3D view, while shown
    seeking: false,      // the timeline is being dragged
  };

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
    const bins = new Uint32Array(64);
    let invalid = 0;
    for (let i = 0; i < values.length; i++) {
      const x = values[i];
      if (!Number.isFinite(x)) {
        invalid++;
        px[4 * i] = INVALID_COLOUR[0]; px[4 * i + 1] = INVALID_COLOUR[1]; px[4 * i + 2] = INVALID_COLOUR[2]; px[4 * i + 3] = 255;
        continue;
      }
      const t = (x - lo) / span;
      const k = 3 * Math.max(0, Math.min(255, Math.round(t * 255)));
      px[4 * i] = lut[k]; px[4 * i + 1] = lut[k + 1]; px[4 * i + 2] = lut[k + 2]; px[4 * i + 3] = 255;
      if (t >= 0 && t <= 1) bins[Math.min(63, Math.floor(t * 64))]++;
    }
    ctx.putImageData(image, 0, 0);
    const digits = name === 'distance' ? 3 : 0;
    $(name + '-min').textContent = lo.toFixed(digits);
    $(name + '-max').textContent = hi.toFixed(digits);
    drawHistogram(name, bins);
    if (name === 'distance') $('distance-invalid').textContent = `${invalid} invalid pixels (shown in magenta)`;
  }

  // The values within the range control's limits, in 64 bins, each in its colour.
  function drawHistogram(name, bins) {
    const canvas = $(name + '-hist');
    const ctx = canvas.getContext('2d');
    ctx.clearRect(0, 0, canvas.width, canvas.height);
    const most = Math.max(1, ...bins);
    const w = canvas.width / bins.length;
    for (let b = 0; b < bins.length; b++) {
      const k = 3 * Math.round(((b + 0.5) / bins.length) * 255);
      ctx.fillStyle = `rgb(${page.lut[k]},${page.lut[k + 1]},${page.lut[k + 2]})`;
      const h = Math.round((bins[b] / most) * canvas.height);
      ctx.fillRect(b * w, canvas.height - h, w - 0.5, h);
    }
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
    if (page.view3d) page.view3d.update(f);
    showRegionStats();
  }

  function draw() {
    const f = page.latest;
    if (!f) return;
    page.latest = null;
    page.shown = f;
    remember(f);
    render(f);
    page.framesShown++;
    const now = performance.timeOrigin + performance.now();
    page.latencies.push(now - f.updateMs);
    if (page.latencies.length > 2000) page.latencies.splice(0, 1000);
    page.shownTimes.push(now);
    while (page.shownTimes.length && now - page.shownTimes[0] > 2000) page.shownTimes.shift();
    $('frame-count').textContent = String(page.framesShown);
    $('frame-itimes').textContent = f.itimes.join(' / ') + ' µs';
    $('valid-count').textContent = `${f.validCount} of ${f.rows * f.columns}` + (f.filtersOn ? '' : ' (no filters)');
    if (f.replayFrames > 0) showTimeline(f);
    showRates();
  }

  // --- regions: statistics of a rectangle, and the temporal noise of its pixels ----------------

  function remember(f) {
    const keep = Math.max(2, Math.min(300, parseInt($('noise-frames').value, 10) || 30));
    page.history.push({ number: f.number, rows: f.rows, columns: f.columns, distance: f.distance.map((x) => x * f.scale) });
    while (page.history.length > keep) page.history.shift();
  }

  // Mean and standard deviation of the valid distances in the rectangle; temporal noise: each
  // pixel's standard deviation over the frames kept (those where it was valid), averaged over the
  // pixels valid at least twice. What one chooses an integration time by.
  function regionStats(f, r) {
    let n = 0, sum = 0, sum2 = 0, amplitude = 0;
    for (let row = r.r0; row <= r.r1; row++) {
      for (let column = r.c0; column <= r.c1; column++) {
        const i = row * f.columns + column;
        const d = f.distance[i] * f.scale;
        if (!Number.isFinite(d)) continue;
        n++; sum += d; sum2 += d * d; amplitude += f.amplitude[i];
      }
    }
    const frames = page.history.filter((h) => h.rows === f.rows && h.columns === f.columns);
    let noiseSum = 0, noisePixels = 0;
    for (let row = r.r0; row <= r.r1; row++) {
      for (let column = r.c0; column <= r.c1; column++) {
        const i = row * f.columns + column;
        let k = 0, s = 0, s2 = 0;
        for (const h of frames) {
          const d = h.distance[i];
          if (Number.isFinite(d)) { k++; s += d; s2 += d * d; }
        }
        if (k >= 2) { const m = s / k; noiseSum += Math.sqrt(Math.max(0, (s2 - k * m * m) / (k - 1))); noisePixels++; }
      }
    }
    const mean = n ? sum / n : NaN;
    return {
      pixels: (r.r1 - r.r0 + 1) * (r.c1 - r.c0 + 1), valid: n, mean,
      std: n >= 2 ? Math.sqrt(Math.max(0, (sum2 - n * mean * mean) / (n - 1))) : NaN,
      amplitude: n ? amplitude / n : NaN,
      noise: noisePixels ? noiseSum / noisePixels : NaN, frames: frames.length,
    };
  }

  function showRegionStats() {
    const f = page.shown, r = page.region;
    if (!f || !r) return;
    const s = regionStats(f, r);
    page.regionStats = s;
    const mm = (x) => (Number.isFinite(x) ? (1000 * x).toFixed(1) + ' mm' : '–');
    $('region-stats').textContent =
      `rows ${r.r0}–${r.r1}, columns ${r.c0}–${r.c1}: ${s.valid} of ${s.pixels} pixels valid; ` +
      `mean ${Number.isFinite(s.mean) ? s.mean.toFixed(4) + ' m' : '–'}, standard deviation ${mm(s.std)}, ` +
      `mean amplitude ${Number.isFinite(s.amplitude) ? s.amplitude.toFixed(1) : '–'}; ` +
      `temporal noise ${mm(s.noise)} over ${s.frames} frames`;
  }

  function showRegion() {
    for (const el of root.querySelectorAll('.region')) {
      const r = page.region, f = page.shown;
      if (!r || !f) { el.style.display = 'none'; continue; }
      el.style.display = 'block';
      el.style.left = `${(100 * r.c0) / f.columns}%`;
      el.style.top = `${(100 * r.r0) / f.rows}%`;
      el.style.width = `${(100 * (r.c1 - r.c0 + 1)) / f.columns}%`;
      el.style.height = `${(100 * (r.r1 - r.r0 + 1)) / f.rows}%`;
    }
  }

  // The image pixel under a mouse event, whatever the zoom.
  function pixelAt(ev, canvas) {
    const f = page.shown;
    if (!f) return null;
    const rect = canvas.getBoundingClientRect();
    const column = Math.floor(((ev.clientX - rect.left) / rect.width) * f.columns);
    const row = Math.floor(((ev.clientY - rect.top) / rect.height) * f.rows);
    if (row < 0 || column < 0 || row >= f.rows || column >= f.columns) return null;
    return { row, column };
  }

  // --- zoom and pan of both images ---------------------------------------------------------------

  function applyZoom() {
    const z = page.zoom;
    for (const el of root.querySelectorAll('.zoom')) {
      el.style.transform = `translate(${z.x}px, ${z.y}px) scale(${z.scale})`;
    }
  }

  function clampZoom() {
    const z = page.zoom;
    z.scale = Math.max(1, Math.min(16, z.scale));
    z.x = Math.min(0, Math.max(512 - 512 * z.scale, z.x));
    z.y = Math.min(0, Math.max(400 - 400 * z.scale, z.y));
    applyZoom();
  }

  function initImageMouse(canvas) {
    const frame = canvas.parentElement.parentElement;
    frame.addEventListener('wheel', (ev) => {
      ev.preventDefault();
      const box = frame.getBoundingClientRect();
      const mx = ev.clientX - box.left, my = ev.clientY - box.top;
      const z = page.zoom, factor = ev.deltaY < 0 ? 1.25 : 0.8;
      const next = Math.max(1, Math.min(16, z.scale * factor));
      z.x = mx - ((mx - z.x) * next) / z.scale;
      z.y = my - ((my - z.y) * next) / z.scale;
      z.scale = next;
      clampZoom();
    }, { passive: false });
    frame.addEventListener('contextmenu', (ev) => ev.preventDefault());
    frame.addEventListener('dblclick', () => { page.zoom = { scale: 1, x: 0, y: 0 }; applyZoom(); });
    frame.addEventListener('mousedown', (ev) => {
      ev.preventDefault();
      if (ev.button === 2 || ev.shiftKey) {  // pan
        const start = { x: ev.clientX, y: ev.clientY, zx: page.zoom.x, zy: page.zoom.y };
        const move = (e) => { page.zoom.x = start.zx + e.clientX - start.x; page.zoom.y = start.zy + e.clientY - start.y; clampZoom(); };
        const up = () => { window.removeEventListener('mousemove', move); window.removeEventListener('mouseup', up); };
        window.addEventListener('mousemove', move);
        window.addEventListener('mouseup', up);
        return;
      }
      const from = pixelAt(ev, canvas);
      if (!from) return;
      const select = (e) => {
        const to = pixelAt(e, canvas) || from;
        page.region = { r0: Math.min(from.row, to.row), r1: Math.max(from.row, to.row),
                        c0: Math.min(from.column, to.column), c1: Math.max(from.column, to.column) };
        showRegion();
        showRegionStats();
      };
      const up = (e) => { select(e); window.removeEventListener('mousemove', select); window.removeEventListener('mouseup', up); };
      window.addEventListener('mousemove', select);
      window.addEventListener('mouseup', up);
    });
  }

  // --- the replay's timeline ------------------------------------------------------------------------

  function showTimeline(f) {
    $('replay').hidden = false;
    const t = $('timeline');
    t.max = String(f.replayFrames - 1);
    if (!page.seeking) t.value = String(f.number);
    $('replay-frame').textContent = `frame ${f.number} of ${f.replayFrames}`;
    $('replay-time').textContent = new Date(f.updateMs).toISOString();
  }

  function initTimeline() {
    const t = $('timeline');
    // Each position the thumb passes is asked for; the viewer shows them in turn.
    t.oninput = () => { page.seeking = true; send({ op: 'seek', frame: Number(t.value) }); };
    t.onchange = () => { page.seeking = false; send({ op: 'seek', frame: Number(t.value) }); };
    $('play').onclick = () => send({ op: page.state === 'paused' ? 'resume' : 'pause' });
    $('step-back').onclick = () => send({ op: 'step', by: -1 });
    $('step-forward').onclick = () => send({ op: 'step', by: 1 });
    $('speed').onchange = () => send({ op: 'speed', value: Number($('speed').value) });
  }

  // --- filters ---------------------------------------------------------------------------------------

  function showFilters(filters) {
    if (!filters) return;
    const on = $('filters-on');
    if (document.activeElement !== on) on.checked = !!filters.enabled;
    for (const name of FILTER_NAMES) {
      const input = $('filter-' + name);
      if (!input.dataset.edited && document.activeElement !== input) input.value = String(Number(filters[name].toPrecision(6)));
    }
  }

  function sendFilters() {
    const filters = { enabled: $('filters-on').checked };
    for (const name of FILTER_NAMES) {
      const input = $('filter-' + name);
      const value = Number(input.value);
      if (input.value.trim() === '' || !Number.isFinite(value)) {
        $('control-error').textContent = name.replace('_', ' ') + ': enter a number; nothing was sent';
        return;
      }
      filters[name] = name === 'temporal_median' ? Math.round(value) : value;
      delete input.dataset.edited;
    }
    send({ op: 'filters', filters });
  }

  // --- the 3D view -------------------------------------------------------------------------------------

  // The points in three.js's axes: the camera's x right, y down, z forward become x, -y, -z, so
  // the view starts from the camera looking into the scene.
  class PointsView {
    constructor(canvas) {
      this.renderer = new THREE.WebGLRenderer({ canvas, antialias: false, preserveDrawingBuffer: true });
      this.renderer.setPixelRatio(1);
      this.renderer.setSize(canvas.clientWidth || 512, canvas.clientHeight || 400, false);
      this.renderer.setClearColor(0x111111);
      this.scene = new THREE.Scene();
      this.camera = new THREE.PerspectiveCamera(60, (canvas.clientWidth || 512) / (canvas.clientHeight || 400), 0.01, 100);
      this.geometry = new THREE.BufferGeometry();
      this.capacity = 0;
      this.material = new THREE.PointsMaterial({ size: 3, sizeAttenuation: false, vertexColors: THREE.VertexColors });
      this.points = new THREE.Points(this.geometry, this.material);
      this.points.frustumCulled = false;
      this.scene.add(this.points);
      this.controls = new THREE.OrbitControls(this.camera, canvas);
      this.controls.addEventListener('change', () => this.draw());
      this.reset();
    }

    reset() {
      this.camera.position.set(0, 0, 0.5);
      this.controls.target.set(0, 0, -2);
      this.controls.update();
      this.draw();
    }

    ensure(n) {
      if (n <= this.capacity) return;
      this.capacity = n;
      this.position = new Float32Array(3 * n);
      this.colour = new Float32Array(3 * n);
      this.geometry.setAttribute('position', new THREE.BufferAttribute(this.position, 3));
      this.geometry.setAttribute('color', new THREE.BufferAttribute(this.colour, 3));
    }

    // The valid points of a frame, coloured like the 2D image they come from.
    update(f) {
      if (!f.points) return;
      const pixels = f.rows * f.columns;
      this.ensure(pixels);
      const by = $('points-colour').value;
      const values = by === 'amplitude' ? f.amplitude : f.distance;
      const [lo, hi] = rangeFor(by, by === 'amplitude' ? f.amplitude : f.distance.map((x) => x * f.scale));
      const span = hi > lo ? hi - lo : 1, scale = by === 'amplitude' ? 1 : f.scale;
      const p = f.points, lut = page.lut;
      let n = 0;
      for (let i = 0; i < pixels; i++) {
        const x = p[3 * i], y = p[3 * i + 1], z = p[3 * i + 2];
        if (!Number.isFinite(x) || !Number.isFinite(y) || !Number.isFinite(z)) continue;
        this.position[3 * n] = x; this.position[3 * n + 1] = -y; this.position[3 * n + 2] = -z;
        const k = 3 * Math.max(0, Math.min(255, Math.round(((values[i] * scale - lo) / span) * 255)));
        this.colour[3 * n] = lut[k] / 255; this.colour[3 * n + 1] = lut[k + 1] / 255; this.colour[3 * n + 2] = lut[k + 2] / 255;
        n++;
      }
      this.geometry.attributes.position.needsUpdate = true;
      this.geometry.attributes.color.needsUpdate = true;
      this.geometry.setDrawRange(0, n);
      this.count = n;
      $('points-info').textContent = `${n} points`;
      this.draw();
    }

    draw() { this.renderer.render(this.scene, this.camera); }
  }

  function setView3d(on) {
    $('view-3d-section').hidden = !on;
    if (on && !page.view3d) {
      if (typeof THREE === 'undefined' || !THREE.OrbitControls) {
        $('points-info').textContent = 'the 3D view needs three.js (Debian package libjs-three) at build time';
      } else {
        try { page.view3d = new PointsView($('points')); } catch (e) { $('points-info').textContent = '3D view unavailable: ' + e.message; }
      }
    }
    if (page.ws && page.ws.readyState === WebSocket.OPEN) page.ws.send(JSON.stringify({ op: 'view3d', on }));
    if (on && page.view3d && page.shown) page.view3d.update(page.shown);
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
    root.dataset.state = state;
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
    if (s.name) $('camera-name').textContent = s.name;
    showCounters(s.counters);
    $('camera-fps').textContent = s.camera_fps.toFixed(1);
    $('problem').textContent = s.problem || '';
    for (const name of ['itime0', 'itime1', 'fps']) {
      showSetting(name, s.settings[name]);
      if (s.ranges) showRange(name, s.ranges[name]);
    }
    page.viewerDropped = s.frames_dropped || 0;
    const r = s.recording;
    rig$('record').textContent = r.on ? 'stop recording' : 'start recording';
    rig$('record-state').textContent = r.error ? 'recording failed: ' + r.error
      : r.file ? (r.on ? 'recording ' : 'recorded ') + r.frames + ' frames into ' + r.file : '';
    if (s.depth && s.depth.lens) {
      $('lens').textContent = s.depth.lens.nominal ? 'nominal lens' : 'calibrated (' + s.depth.lens.source + ')';
    }
    if (s.depth) showFilters(s.depth.filters);
    if (s.replay) {
      $('replay').hidden = false;
      $('play').textContent = s.state === 'paused' ? 'play' : 'pause';
      if (document.activeElement !== $('speed')) $('speed').value = String(s.replay.speed);
    }
    showRates();
  }

  // The camera session's counters: why frames were late or missing.
  function showCounters(c) {
    if (!c) return;
    $('camera-frames').textContent = String(c.frames);
    $('retried-images').textContent = c.retried_images === null ? '–' : String(c.retried_images);
    $('stalls').textContent = String(c.stalls);
    $('losses').textContent = String(c.losses);
    $('reconnects').textContent = String(c.reconnects);
    $('latency').textContent = (1000 * c.latency_seconds).toFixed(1);
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
    const ws = new WebSocket(`ws://${location.host}/ws` + (suffix ? `?camera=${camera.index}` : ''));
    ws.binaryType = 'arraybuffer';
    ws.onopen = () => { if ($('view-3d').checked) ws.send(JSON.stringify({ op: 'view3d', on: true })); };
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
    const at = pixelAt(ev, canvas);
    if (!at) return;
    const { row, column } = at;
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
    c.toBlob((blob) => download(blob, `${snapshotPrefix}frame_${f.number}.png`), 'image/png');
  }

  function init() {
    page.lut = buildLut($('colormap').value);
    drawColourBars();
    $('colormap').onchange = () => { page.lut = buildLut($('colormap').value); drawColourBars(); redraw(); };
    for (const name of ['distance', 'amplitude']) {
      $(name).onmousemove = (ev) => showPixel(ev, $(name));
      initImageMouse($(name));
      for (const id of ['-auto', '-low', '-high']) $(name + id).onchange = redraw;
    }
    for (const name of ['itime0', 'itime1', 'fps']) {
      $('set-' + name).onclick = () => sendSetting(name);
      // Letters typed into a number field raise no input event: a key press marks it too.
      $(name).oninput = $(name).onkeydown = () => { $(name).dataset.edited = '1'; };
    }
    setInterval(showRates, 500);  // the rate falls to 0 when frames stop coming
    $('pause').onclick = () => send({ op: page.state === 'paused' ? 'resume' : 'pause' });
    if (recordHere) rig$('record').onclick = () => send({ op: 'record', on: rig$('record').textContent.startsWith('start') });
    $('snapshot-npy').onclick = () => page.shown && download(npyBlob(page.shown), `${snapshotPrefix}frame_${page.shown.number}.npy`);
    $('snapshot-png').onclick = () => page.shown && snapshotPng(page.shown);
    initTimeline();
    $('filters-on').onchange = sendFilters;
    $('filters-apply').onclick = sendFilters;
    for (const name of FILTER_NAMES) $('filter-' + name).oninput = () => { $('filter-' + name).dataset.edited = '1'; };
    $('view-3d').onchange = () => setView3d($('view-3d').checked);
    $('points-colour').onchange = redraw;
    $('points-reset').onclick = () => page.view3d && page.view3d.reset();
    connect();
  }

  // Draws the frame on screen again, e.g. after the colour map changed.
  function redraw() {
    if (page.shown) render(page.shown);
  }

  init();
  page.showRegionStats = showRegionStats;
  return page;
}

// The cameras the viewer has; one (today's page as it is) unless it says otherwise.
async function viewerCameras() {
  try {
    const r = await fetch('/cameras', { cache: 'no-store' });
    if (r.ok) {
      const list = (await r.json()).cameras;
      if (Array.isArray(list) && list.length > 0) return list;
    }
  } catch (e) { console.error('no camera list from the viewer', e); }
  return [{ name: 'cam0' }];
}

function suffixIds(element, suffix) {
  if (element.id) element.id += suffix;
  for (const el of element.querySelectorAll('[id]')) el.id += suffix;
}

async function start() {
  const cameras = await viewerCameras();
  const template = document.getElementById('panel');
  if (cameras.length === 1) {
    window.lvtPage = Panel(template, '', { index: 0, name: cameras[0].name }, true);
    window.lvtPages = [window.lvtPage];
  } else {
    // The record button and its state move to the rig's bar, once; each camera gets a copy of
    // the rest.
    const recording = template.querySelector('.recording');
    document.getElementById('rig-bar').appendChild(recording);
    document.getElementById('rig-bar').hidden = false;
    template.remove();
    window.lvtPages = cameras.map((c, i) => {
      const panel = template.cloneNode(true);
      suffixIds(panel, '-' + i);
      document.body.appendChild(panel);
      return Panel(panel, '-' + i, { index: i, name: c.name }, i === 0);
    });
    window.lvtPage = window.lvtPages[0];
  }
  window.showRegionStats = () => window.lvtPage.showRegionStats();  // for tests
}

start();
