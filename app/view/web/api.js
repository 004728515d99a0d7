// Calls of the vomark view API; every call carries the token the page's address holds.
const token = new URLSearchParams(location.search).get('token') || '';

export class ApiError extends Error {
  constructor(status, message, body) {
    super(message);
    this.status = status;
    this.body = body;
  }
}

async function check(response) {
  if (response.ok) return response;
  let body = null;
  try { body = await response.json(); } catch (_) { /* not JSON */ }
  throw new ApiError(response.status, (body && body.error) || response.statusText, body);
}

export async function get(path) {
  return check(await fetch(path, { headers: { 'X-Vomark-Token': token } }));
}

export async function getJson(path) { return (await get(path)).json(); }

export async function getBinary(path) { return (await get(path)).arrayBuffer(); }

export async function post(path, body = {}) {
  const response = await fetch(path, {
    method: 'POST',
    headers: { 'X-Vomark-Token': token, 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  return (await check(response)).json();
}

// Mesh: u32 vertex count, u32 face count, f32 x 3 per vertex, u32 x 3 per face.
export function decodeMesh(buffer) {
  const head = new DataView(buffer);
  const nv = head.getUint32(0, true), nf = head.getUint32(4, true);
  return {
    positions: new Float32Array(buffer, 8, nv * 3),
    indices: new Uint32Array(buffer, 8 + nv * 12, nf * 3),
  };
}

// Weights: u32 vertex count, i32 tick, u32 flags, f32 per vertex, then one selection bit per vertex
// (`bits`; `selected`, a byte per vertex, is unpacked when first read).
export function decodeWeights(buffer) {
  const head = new DataView(buffer);
  const n = head.getUint32(0, true);
  const bits = new Uint8Array(buffer, 12 + n * 4, (n + 7) >> 3);
  let selected = null;
  return {
    count: n,
    tick: head.getInt32(4, true),
    hasWeights: (head.getUint32(8, true) & 1) !== 0,
    weights: new Float32Array(buffer, 12, n),
    bits,
    get selected() {
      if (!selected) {
        selected = new Uint8Array(n);
        for (let i = 0; i < n; i++) selected[i] = (bits[i >> 3] >> (i & 7)) & 1;
      }
      return selected;
    },
  };
}
