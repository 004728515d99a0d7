// vomark view: the page. Loads the scene, keeps the viewport on the timeline's frame, and sends the
// panel, the stack switches and the dialogs' answers to the host.
import { decodeMesh, decodeWeights, get, getBinary, getJson, post } from './api.js';
import { Dialogs } from './dialogs.js';
import { renderPanel, showStatus } from './panel.js';
import { Timeline } from './timeline.js';
import { Viewport, drawLegend } from './viewport.js';

const $ = (id) => document.getElementById(id);
// What the tests and the curious read: the last evaluation and how long evaluations take.
const view = (window.vomarkView = {
  ready: false, lastEval: null, evals: 0, lastMs: 0, totalMs: 0, errors: [], eventSeq: 0, stateSeq: -1,
});

let scene, viewport, timeline, dialogs;
Object.defineProperty(view, 'drawn', { get: () => (viewport ? viewport.updatesDrawn : 0) });
Object.defineProperty(view, 'viewport', { get: () => viewport });
let busyCalls = 0;

function showError(e) {
  const el = $('error');
  el.textContent = String(e.message || e);
  el.hidden = false;
  view.errors.push(el.textContent);
  clearTimeout(showError.timer);
  showError.timer = setTimeout(() => { el.hidden = true; }, 6000);
}

// Evaluation: up to two requests out at once (in flight, or answered and waiting). An answer is handed
// to the viewport only once the one before is on screen, and a request goes out when one is handed
// over, so a scrub asks no faster than the screen shows (answers never drawn cost the host and the
// page the time a frame needs); the second in flight gives each round trip two frames, as the
// browser, busy drawing, often takes longer than one to deliver an answer. A scrub that moves on
// meanwhile asks only for where it ended.
let wantedTick = null, inFlight = false;
function requestTick(tick) {
  wantedTick = tick;
  if (!inFlight) pump();
}
function ask() {
  const tick = wantedTick;
  wantedTick = null;
  const answer = getBinary(`/api/eval?tick=${tick}`);
  answer.catch(() => {}); // awaited later, where its failure is shown
  return { t0: performance.now(), answer };
}
async function pump() {
  inFlight = true;
  for (const asked = []; ;) {
    while (asked.length < 2 && wantedTick !== null) asked.push(ask());
    if (!asked.length) break;
    const { t0, answer } = asked.shift();
    try {
      const w = decodeWeights(await answer);
      await viewport.drawn();
      if (w.count !== viewport.vertexCount) viewport.setMesh(decodeMesh(await getBinary('/api/mesh')));
      viewport.setWeights(w);
      view.lastEval = w;
      viewport.drawn().then(() => {
        view.evals++;
        view.lastMs = performance.now() - t0;
        view.totalMs += view.lastMs;
      });
    } catch (e) {
      showError(e);
    }
  }
  inFlight = false;
}
const refresh = () => requestTick(timeline.frame * scene.ticksPerFrame);

function renderStack(stack) {
  const list = $('stackList');
  list.textContent = '';
  for (const m of stack) {
    const li = document.createElement('li');
    li.className = (m.edited ? 'edited ' : '') + (m.enabled ? '' : 'off');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.checked = m.enabled;
    box.title = m.enabled ? 'switch off in the stack' : 'switch on in the stack';
    box.dataset.index = m.index;
    box.addEventListener('change', () => userCall('/api/stack', { index: m.index, enabled: box.checked }));
    const name = document.createElement('span');
    name.textContent = m.name;
    li.append(box, name);
    if (m.worldSpace) {
      const ws = document.createElement('span');
      ws.className = 'space';
      ws.textContent = 'world';
      li.append(ws);
    }
    list.append(li);
  }
}

let macro = [];
function renderMacro(lines) {
  macro = lines.slice();
  $('macroLines').textContent = macro.map((l) => l + '\n').join('');
}

// The seq of the last event the shown state already holds: an event at or before it is old news (a
// progress event read late must not put "Frame 37 of 48" back over a finished recording's status).
let shownSeq = -1;

function renderNotes(notes) {
  const list = $('notes');
  list.textContent = '';
  for (const line of notes || []) {
    const li = document.createElement('li');
    li.textContent = line;
    list.append(li);
  }
}

// Shows a state from the server unless the page already shows a newer one.
function renderState(state) {
  if (state.seq !== undefined) {
    if (state.seq < shownSeq) return;
    shownSeq = state.seq;
    view.stateSeq = state.seq;
  }
  renderPanel($('panelBody'), state.panel, (body) => userCall('/api/panel', body));
  renderStack(state.stack);
  renderMacro(state.macro);
  renderNotes(state.notes);
}

async function fetchState() {
  renderState(await getJson('/api/state'));
}

function setBusy(on) {
  busyCalls += on ? 1 : -1;
  $('busy').hidden = busyCalls === 0;
  if (busyCalls === 0) $('progress').hidden = true;
}

// A user's action: the host runs it (a recording runs to its end inside it), then the page shows
// the state it left and evaluates the frame again.
async function userCall(path, body) {
  setBusy(true);
  try {
    renderState(await post(path, body));
  } catch (e) {
    if (e.body && e.body.panel !== undefined) renderState(e.body);
    showError(e);
  } finally {
    setBusy(false);
  }
  refresh();
}

function onProgress(e) {
  $('progress').hidden = dialogs.open;
  $('progressText').textContent = e.status && e.status.trim() ? e.status : `Evaluating frame ${Math.floor(e.frame)}`;
  const span = e.end - e.start;
  const done = span === 0 ? 1 : Math.min(1, Math.max(0, (e.frame - e.start) / span));
  $('progressBar').style.width = `${done * 100}%`;
  showStatus($('panelBody'), e.status);
}

function handleEvent(e) {
  // dialogs come and go in pairs and the state does not hold them: always followed
  if (e.type === 'dialog') { $('progress').hidden = true; dialogs.show(e.dialog); }
  else if (e.type === 'dialogClosed') dialogs.close(e.id);
  if (e.seq <= shownSeq) return;
  if (e.type === 'progress') onProgress(e);
  else if (e.type === 'macro') { macro[e.index] = e.line; renderMacro(macro); }
  else if (e.type === 'status') showStatus($('panelBody'), e.text);
  else if (e.type === 'done') {
    $('progress').hidden = true;
    // a call of another page (or one whose answer is still on its way) changed the state
    if (busyCalls === 0) fetchState().catch(showError);
  }
}

async function eventLoop(after) {
  for (;;) {
    try {
      const r = await getJson(`/api/events?after=${after}&wait=20000`);
      for (const e of r.events) {
        after = Math.max(after, e.seq);
        handleEvent(e);
        view.eventSeq = after;
      }
    } catch (e) {
      await new Promise((done) => setTimeout(done, 1000));
    }
  }
}

const pressEscape = () => post('/api/escape').catch(showError);

async function saveScript() {
  const text = await (await get('/api/script')).text();
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
  a.download = `${scene.node}-macro.txt`;
  a.click();
  setTimeout(() => URL.revokeObjectURL(a.href), 1000);
}

async function start() {
  dialogs = new Dialogs(showError);
  // a dialog may already be waiting (the page was reloaded during a call)
  const pending = await getJson('/api/dialog');
  if (pending.dialog) dialogs.show(pending.dialog);
  eventLoop(pending.last);

  scene = await getJson('/api/scene');
  $('sceneName').textContent = `${scene.node} · ${scene.vertices} vertices · ${scene.ticksPerFrame} ticks per frame`;
  drawLegend($('legendRamp'), scene.weightRamp);
  viewport = new Viewport($('gl'), scene.weightRamp);
  viewport.setMesh(decodeMesh(await getBinary('/api/mesh')));
  const tpf = scene.ticksPerFrame;
  timeline = new Timeline({
    track: $('track'), ticks: $('ticks'), playhead: $('playhead'), playButton: $('play'), frameInput: $('frame'),
    start: scene.animationRange[0] / tpf, end: scene.animationRange[1] / tpf, fps: Math.max(1, 4800 / tpf),
    onFrame: (f) => requestTick(f * tpf),
  });
  timeline.go(scene.currentTick / tpf, true);
  await fetchState();
  $('cancel').addEventListener('click', pressEscape);
  $('saveScript').addEventListener('click', () => saveScript().catch(showError));
  document.addEventListener('keydown', (e) => {
    if (e.key === 'Escape' && !dialogs.open && busyCalls > 0) pressEscape();
  });
  while (inFlight) await new Promise((done) => setTimeout(done, 10));
  await viewport.drawn();
  view.ready = true;
}

start().catch((e) => { showError(e); view.errors.push(String(e)); });
