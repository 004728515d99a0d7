// The node's mesh in WebGL 2: vertices coloured by weight, selected vertices marked, orbit/pan/zoom.
const RAMP = `
uniform vec3 stops[5]; // the weight ramp at 0, 1/4, 1/2, 3/4, 1
vec3 ramp(float w) {
  float x = clamp(w, 0.0, 1.0) * 4.0;
  int i = min(int(x), 3);
  return mix(stops[i], stops[i + 1], x - float(i));
}`;
const VERTEX = `#version 300 es
in vec3 position;
in float weight;
uniform mat4 mvp;
uniform int mode; // 0 surface, 1 edges, 2 selected points (drawn by index: those alone)
uniform float pointSize;
out vec4 color;
${RAMP}
void main() {
  gl_Position = mvp * vec4(position, 1.0);
  gl_PointSize = pointSize;
  if (mode == 0) color = vec4(ramp(weight), 1.0);
  else if (mode == 1) color = vec4(0.0, 0.0, 0.0, 0.35);
  else color = vec4(1.0, 1.0, 1.0, 1.0);
}`;
const FRAGMENT = `#version 300 es
precision mediump float;
in vec4 color;
out vec4 outColor;
void main() { outColor = color; }`;

// The edges, drawn once for each view into a layer of their own, laid over the surface at every
// frame: a scrub changes the colours only, and drawing thousands of lines again for each frame took
// most of a frame's time in software WebGL.
const LAYER_VERTEX = `#version 300 es
out vec2 uv;
void main() {
  vec2 p = vec2(gl_VertexID == 1 ? 3.0 : -1.0, gl_VertexID == 2 ? 3.0 : -1.0); // one triangle over the screen
  uv = p * 0.5 + 0.5;
  gl_Position = vec4(p, 0.0, 1.0);
}`;
const LAYER_FRAGMENT = `#version 300 es
precision mediump float;
uniform sampler2D layer;
in vec2 uv;
out vec4 outColor;
void main() { outColor = texture(layer, uv); }`;

const kWidth = 2048; // texels a row of the weights' and the triangles' textures

// The surface as a view sees it, drawn once for each view: for every pixel the triangle it shows
// (its number + 1, 0 for none) and the pixel's weights of the triangle's corners, as the surface's
// colours would be interpolated there; the depth, pushed back as the surface is.
const SURFACE_VERTEX = `#version 300 es
in vec3 position; // three a triangle, in the order of its indices
uniform mat4 mvp;
flat out uint triangle;
out vec3 corner;
void main() {
  gl_Position = mvp * vec4(position, 1.0);
  triangle = uint(gl_VertexID / 3) + 1u;
  int k = gl_VertexID % 3;
  corner = vec3(k == 0 ? 1.0 : 0.0, k == 1 ? 1.0 : 0.0, k == 2 ? 1.0 : 0.0);
}`;
const SURFACE_FRAGMENT = `#version 300 es
precision highp float;
flat in uint triangle;
in vec3 corner;
out uvec4 outPixel;
void main() { outPixel = uvec4(triangle, floatBitsToUint(corner)); }`;

// A frame: the surface's colours from those pixels and the weights of the moment (a texture of one
// float a vertex, kWidth a row), at a cost that does not grow with the triangles.
const RESOLVE_FRAGMENT = `#version 300 es
precision highp float;
precision highp int;
uniform highp usampler2D pixels;
uniform highp usampler2D triangles; // a triangle's indices a texel, kWidth a row
uniform highp sampler2D depth;
uniform highp sampler2D weights;
out vec4 outColor;
${RAMP}
ivec2 at(uint i) { return ivec2(int(i % ${kWidth}u), int(i / ${kWidth}u)); }
vec3 colour(uint v) { return ramp(texelFetch(weights, at(v), 0).r); }
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  uvec4 s = texelFetch(pixels, p, 0);
  if (s.x == 0u) discard;
  uvec3 v = texelFetch(triangles, at(s.x - 1u), 0).xyz;
  vec3 b = uintBitsToFloat(s.yzw);
  outColor = vec4(b.x * colour(v.x) + b.y * colour(v.y) + b.z * colour(v.z), 1.0);
  gl_FragDepth = texelFetch(depth, p, 0).r;
}`;

// The same ramp as the shader, for the legend: `stops` are the colours at 0, 1/4, 1/2, 3/4, 1.
export function ramp(stops, w) {
  const x = Math.min(1, Math.max(0, w)) * (stops.length - 1);
  const i = Math.min(Math.floor(x), stops.length - 2), f = x - i;
  return [0, 1, 2].map((k) => stops[i][k] + (stops[i + 1][k] - stops[i][k]) * f);
}

function perspective(fovy, aspect, near, far) {
  const f = 1 / Math.tan(fovy / 2), nf = 1 / (near - far);
  return [f / aspect, 0, 0, 0, 0, f, 0, 0, 0, 0, (far + near) * nf, -1, 0, 0, 2 * far * near * nf, 0];
}

function multiply(a, b) { // column-major a * b
  const out = new Array(16).fill(0);
  for (let c = 0; c < 4; c++)
    for (let r = 0; r < 4; r++)
      for (let k = 0; k < 4; k++) out[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
  return out;
}

function lookAt(eye, target, up) {
  const sub = (a, b) => [a[0] - b[0], a[1] - b[1], a[2] - b[2]];
  const norm = (v) => { const l = Math.hypot(...v) || 1; return v.map((x) => x / l); };
  const cross = (a, b) => [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];
  const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const z = norm(sub(eye, target)), x = norm(cross(up, z)), y = cross(z, x);
  return [x[0], y[0], z[0], 0, x[1], y[1], z[1], 0, x[2], y[2], z[2], 0, -dot(x, eye), -dot(y, eye), -dot(z, eye), 1];
}

export class Viewport {
  // `stops`: the weight ramp the pictures use, as the server hands it.
  constructor(canvas, stops) {
    this.canvas = canvas;
    this.stops = stops.flat();
    // opaque: every pixel is drawn opaque anyway, and the browser then composites the canvas
    // without blending it over what lies beneath
    const gl = canvas.getContext('webgl2', { antialias: false, preserveDrawingBuffer: false, alpha: false });
    if (!gl) throw new Error('this browser has no WebGL 2');
    this.gl = gl;
    this.program = this.link(VERTEX, FRAGMENT);
    this.layerProgram = this.link(LAYER_VERTEX, LAYER_FRAGMENT);
    this.surfaceProgram = this.link(SURFACE_VERTEX, SURFACE_FRAGMENT);
    this.resolveProgram = this.link(LAYER_VERTEX, RESOLVE_FRAGMENT);
    gl.useProgram(this.resolveProgram);
    ['pixels', 'triangles', 'depth', 'weights'].forEach((name, unit) =>
      gl.uniform1i(gl.getUniformLocation(this.resolveProgram, name), unit));
    gl.uniform3fv(gl.getUniformLocation(this.resolveProgram, 'stops'), this.stops);
    this.surface = { framebuffer: gl.createFramebuffer(), pixels: gl.createTexture(), depth: gl.createTexture(),
                     triangles: gl.createTexture(), weights: gl.createTexture(), vao: gl.createVertexArray(),
                     positions: gl.createBuffer(), count: 0, staging: new Float32Array(0),
                     width: 0, height: 0, mvp: null, box: [0, 0, 0, 0], used: false };
    // drawn multisampled (smooth lines), then resolved into a texture
    this.layer = { framebuffer: gl.createFramebuffer(), color: gl.createRenderbuffer(), depth: gl.createRenderbuffer(),
                   resolved: gl.createFramebuffer(), texture: gl.createTexture(), width: 0, height: 0, mvp: null,
                   samples: Math.min(4, gl.getParameter(gl.MAX_SAMPLES)) };
    this.loc = {
      position: gl.getAttribLocation(this.program, 'position'),
      weight: gl.getAttribLocation(this.program, 'weight'),
      stops: gl.getUniformLocation(this.program, 'stops'),
      mvp: gl.getUniformLocation(this.program, 'mvp'),
      mode: gl.getUniformLocation(this.program, 'mode'),
      pointSize: gl.getUniformLocation(this.program, 'pointSize'),
    };
    this.buffers = { position: gl.createBuffer(), weight: gl.createBuffer(), index: gl.createBuffer(),
                     edges: gl.createBuffer(), points: gl.createBuffer() };
    this.pointCount = 0; // selected vertices, drawn as points
    this.pixelsPerTriangle = 7; // see drawSurfacePixels
    this.vao = gl.createVertexArray();
    this.vertexCount = 0;
    this.updatesDrawn = 0; // frames drawn with weights newer than the frame before
    this.waiting = [];
    this.indexCount = 0;
    this.edgeCount = 0;
    this.camera = { yaw: -0.6, pitch: 0.7, distance: 3, target: [0, 0, 0] };
    this.listen();
    new ResizeObserver(() => this.draw()).observe(canvas);
  }

  link(vs, fs) {
    const gl = this.gl;
    const shader = (type, src) => {
      const s = gl.createShader(type);
      gl.shaderSource(s, src);
      gl.compileShader(s);
      if (!gl.getShaderParameter(s, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(s));
      return s;
    };
    const p = gl.createProgram();
    gl.attachShader(p, shader(gl.VERTEX_SHADER, vs));
    gl.attachShader(p, shader(gl.FRAGMENT_SHADER, fs));
    gl.linkProgram(p);
    if (!gl.getProgramParameter(p, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(p));
    return p;
  }

  setMesh({ positions, indices }) {
    const gl = this.gl, b = this.buffers, n = positions.length / 3;
    gl.bindVertexArray(this.vao);
    gl.bindBuffer(gl.ARRAY_BUFFER, b.position);
    gl.bufferData(gl.ARRAY_BUFFER, positions, gl.STATIC_DRAW);
    gl.enableVertexAttribArray(this.loc.position);
    gl.vertexAttribPointer(this.loc.position, 3, gl.FLOAT, false, 0, 0);
    gl.bindBuffer(gl.ARRAY_BUFFER, b.weight);
    gl.bufferData(gl.ARRAY_BUFFER, n * 4, gl.DYNAMIC_DRAW);
    gl.enableVertexAttribArray(this.loc.weight);
    gl.vertexAttribPointer(this.loc.weight, 1, gl.FLOAT, false, 0, 0);
    gl.bindVertexArray(null);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, b.index);
    gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, indices, gl.STATIC_DRAW);
    // edges only where they stay readable
    const edges = new Uint32Array(indices.length <= 180000 ? indices.length * 2 : 0);
    for (let f = 0; f < edges.length / 6; f++)
      for (let k = 0; k < 3; k++) {
        edges[f * 6 + k * 2] = indices[f * 3 + k];
        edges[f * 6 + k * 2 + 1] = indices[f * 3 + (k + 1) % 3];
      }
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, b.edges);
    gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, edges, gl.STATIC_DRAW);
    this.setSurface(positions, indices);
    this.vertexCount = n;
    this.newWeights = null; // of the mesh before
    this.pointCount = 0;
    this.points = new Uint32Array(n);
    this.layer.mvp = null;
    this.indexCount = indices.length;
    this.edgeCount = edges.length;
    this.frameAll(positions);
  }

  // The surface's corners three a triangle, its indices and a texture for its weights.
  setSurface(positions, indices) {
    const gl = this.gl, s = this.surface, nf = indices.length / 3;
    const corners = new Float32Array(indices.length * 3);
    for (let j = 0; j < indices.length; j++)
      for (let k = 0; k < 3; k++) corners[j * 3 + k] = positions[indices[j] * 3 + k];
    gl.bindVertexArray(s.vao);
    gl.bindBuffer(gl.ARRAY_BUFFER, s.positions);
    gl.bufferData(gl.ARRAY_BUFFER, corners, gl.STATIC_DRAW);
    const at = gl.getAttribLocation(this.surfaceProgram, 'position');
    gl.enableVertexAttribArray(at);
    gl.vertexAttribPointer(at, 3, gl.FLOAT, false, 0, 0);
    gl.bindVertexArray(null);
    s.count = indices.length;
    const rows = (count) => Math.max(1, Math.ceil(count / kWidth));
    // a mesh beyond the textures' size is drawn as triangles
    s.fits = Math.max(rows(nf), rows(positions.length / 3)) <= gl.getParameter(gl.MAX_TEXTURE_SIZE);
    s.mvp = null;
    if (!s.fits) return;
    const triangles = new Uint32Array(kWidth * rows(nf) * 4);
    for (let f = 0; f < nf; f++)
      for (let k = 0; k < 3; k++) triangles[f * 4 + k] = indices[f * 3 + k];
    this.texture(s.triangles, gl.RGBA32UI, kWidth, rows(nf), gl.RGBA_INTEGER, gl.UNSIGNED_INT, triangles);
    s.staging = new Float32Array(kWidth * rows(positions.length / 3));
    this.texture(s.weights, gl.R32F, kWidth, rows(positions.length / 3), gl.RED, gl.FLOAT, s.staging);
  }

  texture(texture, format, width, height, layout, type, data) {
    const gl = this.gl;
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.texImage2D(gl.TEXTURE_2D, 0, format, width, height, 0, layout, type, data);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
  }

  // Kept until the next animation frame, which uploads only the last: weights that come faster
  // than the screen shows them cost nothing more.
  setWeights({ weights, bits }) {
    if (weights.length !== this.vertexCount) return false;
    this.newWeights = { weights, bits };
    this.draw();
    return true;
  }

  frameAll(positions = this.lastPositions) {
    if (!positions || positions.length === 0) return;
    this.lastPositions = positions;
    const lo = [Infinity, Infinity, Infinity], hi = [-Infinity, -Infinity, -Infinity];
    for (let i = 0; i < positions.length; i += 3)
      for (let k = 0; k < 3; k++) {
        lo[k] = Math.min(lo[k], positions[i + k]);
        hi[k] = Math.max(hi[k], positions[i + k]);
      }
    this.camera.target = [0, 1, 2].map((k) => (lo[k] + hi[k]) / 2);
    this.camera.distance = Math.max(1e-3, Math.hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2])) * 1.4;
    this.draw();
  }

  matrix() {
    const c = this.camera, aspect = this.canvas.width / Math.max(1, this.canvas.height);
    const eye = [
      c.target[0] + c.distance * Math.cos(c.pitch) * Math.cos(c.yaw),
      c.target[1] + c.distance * Math.cos(c.pitch) * Math.sin(c.yaw),
      c.target[2] + c.distance * Math.sin(c.pitch),
    ];
    const up = Math.cos(c.pitch) >= 0 ? [0, 0, 1] : [0, 0, -1]; // z up, as the host's scenes are
    return multiply(perspective(0.8, aspect, c.distance / 100, c.distance * 100), lookAt(eye, c.target, up));
  }

  // Draws at the next animation frame, once however often it was asked before it.
  draw() {
    if (this.drawAsked) return;
    this.drawAsked = true;
    requestAnimationFrame(() => {
      this.drawAsked = false;
      this.render();
      for (const done of this.waiting.splice(0)) done();
    });
  }

  // Resolves once what was asked to be drawn is drawn.
  drawn() {
    return this.drawAsked ? new Promise((done) => this.waiting.push(done)) : Promise.resolve();
  }

  render() {
    const gl = this.gl;
    if (this.newWeights) {
      const s = this.surface;
      gl.bindBuffer(gl.ARRAY_BUFFER, this.buffers.weight);
      gl.bufferSubData(gl.ARRAY_BUFFER, 0, this.newWeights.weights);
      if (s.fits) {
        s.staging.set(this.newWeights.weights);
        gl.bindTexture(gl.TEXTURE_2D, s.weights);
        gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, kWidth, s.staging.length / kWidth, gl.RED, gl.FLOAT, s.staging);
      }
      // the selected vertices' indices, read off the selection bits a byte at a time (most are
      // clear): the points pass draws them alone
      const bits = this.newWeights.bits, points = this.points;
      let n = 0;
      for (let b = 0; b < bits.length; b++)
        for (let v = bits[b]; v; v &= v - 1) {
          const i = b * 8 + 31 - Math.clz32(v & -v);
          if (i < this.vertexCount) points[n++] = i;
        }
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.buffers.points);
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, points.subarray(0, n), gl.DYNAMIC_DRAW);
      this.pointCount = n;
      this.newWeights = null;
      this.updatesDrawn++;
    }
    const canvas = this.canvas, dpr = window.devicePixelRatio || 1;
    const w = Math.max(1, Math.round(canvas.clientWidth * dpr)), h = Math.max(1, Math.round(canvas.clientHeight * dpr));
    if (canvas.width !== w || canvas.height !== h) { canvas.width = w; canvas.height = h; }
    gl.viewport(0, 0, w, h);
    gl.clearColor(0.16, 0.18, 0.21, 1);
    gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
    if (!this.vertexCount) return;
    const mvp = this.matrix();
    if (this.edgeCount) this.drawEdgeLayer(mvp, w, h);
    if (this.drawSurfacePixels(mvp, w, h)) this.resolveSurface();
    else this.drawSurface(mvp);
    if (this.edgeCount) {
      // the layer's colours are premultiplied: black lines, coverage in alpha
      gl.disable(gl.DEPTH_TEST);
      gl.enable(gl.BLEND);
      gl.blendFunc(gl.ONE, gl.ONE_MINUS_SRC_ALPHA);
      gl.useProgram(this.layerProgram);
      gl.activeTexture(gl.TEXTURE0);
      gl.bindTexture(gl.TEXTURE_2D, this.layer.texture);
      // only where the mesh is: the layer is clear elsewhere, and blending it costs every pixel
      gl.enable(gl.SCISSOR_TEST);
      gl.scissor(...this.surface.box);
      gl.drawArrays(gl.TRIANGLES, 0, 3);
      gl.disable(gl.SCISSOR_TEST);
      gl.disable(gl.BLEND);
      gl.enable(gl.DEPTH_TEST);
    }
    if (this.pointCount) {
      gl.useProgram(this.program);
      gl.bindVertexArray(this.vao);
      gl.uniformMatrix4fv(this.loc.mvp, false, mvp);
      gl.uniform1i(this.loc.mode, 2);
      gl.uniform1f(this.loc.pointSize, Math.max(3, 6 * dpr * Math.min(1, 3000 / this.vertexCount)));
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.buffers.points);
      gl.drawElements(gl.POINTS, this.pointCount, gl.UNSIGNED_INT, 0);
    }
    gl.bindVertexArray(null);
  }

  // The surface coloured by weight, pushed back a little so that lines on it stay in front.
  drawSurface(mvp) {
    const gl = this.gl;
    gl.useProgram(this.program);
    gl.bindVertexArray(this.vao);
    gl.uniformMatrix4fv(this.loc.mvp, false, mvp);
    gl.uniform3fv(this.loc.stops, this.stops);
    gl.uniform1i(this.loc.mode, 0);
    gl.enable(gl.DEPTH_TEST);
    gl.enable(gl.POLYGON_OFFSET_FILL);
    gl.polygonOffset(1, 1);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.buffers.index);
    gl.drawElements(gl.TRIANGLES, this.indexCount, gl.UNSIGNED_INT, 0);
    gl.disable(gl.POLYGON_OFFSET_FILL);
  }

  // The edges as the surface hides them, for this view and size; drawn again only when they change.
  drawEdgeLayer(mvp, w, h) {
    const gl = this.gl, layer = this.layer;
    if (layer.mvp && layer.width === w && layer.height === h && layer.mvp.every((v, i) => v === mvp[i])) return;
    if (layer.width !== w || layer.height !== h) {
      gl.bindTexture(gl.TEXTURE_2D, layer.texture);
      gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, w, h, 0, gl.RGBA, gl.UNSIGNED_BYTE, null);
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
      gl.bindFramebuffer(gl.FRAMEBUFFER, layer.resolved);
      gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, layer.texture, 0);
      gl.bindFramebuffer(gl.FRAMEBUFFER, layer.framebuffer);
      gl.bindRenderbuffer(gl.RENDERBUFFER, layer.color);
      gl.renderbufferStorageMultisample(gl.RENDERBUFFER, layer.samples, gl.RGBA8, w, h);
      gl.framebufferRenderbuffer(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.RENDERBUFFER, layer.color);
      gl.bindRenderbuffer(gl.RENDERBUFFER, layer.depth);
      gl.renderbufferStorageMultisample(gl.RENDERBUFFER, layer.samples, gl.DEPTH_COMPONENT24, w, h);
      gl.framebufferRenderbuffer(gl.FRAMEBUFFER, gl.DEPTH_ATTACHMENT, gl.RENDERBUFFER, layer.depth);
      layer.width = w;
      layer.height = h;
    }
    gl.bindFramebuffer(gl.FRAMEBUFFER, layer.framebuffer);
    gl.viewport(0, 0, w, h);
    gl.clearColor(0, 0, 0, 0);
    gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
    // the surface's depth alone, pushed back as in the frame, so that hidden edges stay hidden
    gl.colorMask(false, false, false, false);
    this.drawSurface(mvp);
    gl.colorMask(true, true, true, true);
    gl.enable(gl.BLEND);
    gl.blendFuncSeparate(gl.SRC_ALPHA, gl.ONE_MINUS_SRC_ALPHA, gl.ONE, gl.ONE_MINUS_SRC_ALPHA);
    gl.uniform1i(this.loc.mode, 1);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.buffers.edges);
    gl.drawElements(gl.LINES, this.edgeCount, gl.UNSIGNED_INT, 0);
    gl.disable(gl.BLEND);
    gl.bindVertexArray(null);
    gl.bindFramebuffer(gl.READ_FRAMEBUFFER, layer.framebuffer);
    gl.bindFramebuffer(gl.DRAW_FRAMEBUFFER, layer.resolved);
    gl.blitFramebuffer(0, 0, w, h, 0, 0, w, h, gl.COLOR_BUFFER_BIT, gl.NEAREST);
    gl.bindFramebuffer(gl.FRAMEBUFFER, null);
    gl.viewport(0, 0, w, h);
    gl.clearColor(0.16, 0.18, 0.21, 1);
    gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
    layer.mvp = mvp;
  }

  // The surface's pixels for this view and size (see SURFACE_VERTEX), drawn again only when they
  // change, when the triangles are many for the pixels the mesh covers; true when the frame is to be
  // coloured from them. In software WebGL a triangle costs about as much as colouring 7 of those
  // pixels (3,721 vertices on a 980 x 575 canvas are faster drawn as triangles, 40,401 from pixels).
  drawSurfacePixels(mvp, w, h) {
    const gl = this.gl, s = this.surface;
    if (s.mvp && s.width === w && s.height === h && s.mvp.every((v, i) => v === mvp[i])) return s.used;
    s.mvp = mvp;
    s.box = this.screenBox(mvp, w, h);
    s.used = s.fits && (s.count / 3) * this.pixelsPerTriangle > s.box[2] * s.box[3];
    if (!s.used) return false;
    if (s.width !== w || s.height !== h) {
      this.texture(s.pixels, gl.RGBA32UI, w, h, gl.RGBA_INTEGER, gl.UNSIGNED_INT, null);
      this.texture(s.depth, gl.DEPTH_COMPONENT24, w, h, gl.DEPTH_COMPONENT, gl.UNSIGNED_INT, null);
      gl.bindFramebuffer(gl.FRAMEBUFFER, s.framebuffer);
      gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, s.pixels, 0);
      gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.DEPTH_ATTACHMENT, gl.TEXTURE_2D, s.depth, 0);
      s.width = w;
      s.height = h;
    }
    gl.bindFramebuffer(gl.FRAMEBUFFER, s.framebuffer);
    gl.viewport(0, 0, w, h);
    gl.clearBufferuiv(gl.COLOR, 0, [0, 0, 0, 0]);
    gl.clearBufferfv(gl.DEPTH, 0, [1]);
    gl.useProgram(this.surfaceProgram);
    gl.uniformMatrix4fv(gl.getUniformLocation(this.surfaceProgram, 'mvp'), false, mvp);
    gl.bindVertexArray(s.vao);
    gl.enable(gl.DEPTH_TEST);
    gl.enable(gl.POLYGON_OFFSET_FILL);
    gl.polygonOffset(1, 1);
    gl.drawArrays(gl.TRIANGLES, 0, s.count);
    gl.disable(gl.POLYGON_OFFSET_FILL);
    gl.bindVertexArray(null);
    gl.bindFramebuffer(gl.FRAMEBUFFER, null);
    gl.viewport(0, 0, w, h);
    return true;
  }

  // The surface coloured by the weights of the moment, with its depth, over the mesh's screen box.
  resolveSurface() {
    const gl = this.gl, s = this.surface;
    gl.useProgram(this.resolveProgram);
    [s.pixels, s.triangles, s.depth, s.weights].forEach((texture, unit) => {
      gl.activeTexture(gl.TEXTURE0 + unit);
      gl.bindTexture(gl.TEXTURE_2D, texture);
    });
    gl.activeTexture(gl.TEXTURE0);
    gl.enable(gl.DEPTH_TEST);
    gl.depthFunc(gl.ALWAYS);
    gl.enable(gl.SCISSOR_TEST);
    gl.scissor(...s.box);
    gl.drawArrays(gl.TRIANGLES, 0, 3);
    gl.disable(gl.SCISSOR_TEST);
    gl.depthFunc(gl.LESS);
  }

  // The pixels the mesh covers in this view, a little more for the lines' smoothing; the whole
  // screen when part of it is behind the eye.
  screenBox(mvp, w, h) {
    const p = this.lastPositions, m = mvp;
    let x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
    for (let i = 0; i < p.length; i += 3) {
      const cw = m[3] * p[i] + m[7] * p[i + 1] + m[11] * p[i + 2] + m[15];
      if (!(cw > 0)) return [0, 0, w, h];
      const x = (m[0] * p[i] + m[4] * p[i + 1] + m[8] * p[i + 2] + m[12]) / cw;
      const y = (m[1] * p[i] + m[5] * p[i + 1] + m[9] * p[i + 2] + m[13]) / cw;
      if (x < x0) x0 = x;
      if (x > x1) x1 = x;
      if (y < y0) y0 = y;
      if (y > y1) y1 = y;
    }
    const left = Math.max(0, Math.floor((x0 + 1) * w / 2) - 2), bottom = Math.max(0, Math.floor((y0 + 1) * h / 2) - 2);
    const right = Math.min(w, Math.ceil((x1 + 1) * w / 2) + 2), top = Math.min(h, Math.ceil((y1 + 1) * h / 2) + 2);
    return right > left && top > bottom ? [left, bottom, right - left, top - bottom] : [0, 0, 0, 0];
  }

  listen() {
    const canvas = this.canvas;
    let drag = null;
    canvas.addEventListener('contextmenu', (e) => e.preventDefault());
    canvas.addEventListener('pointerdown', (e) => {
      canvas.setPointerCapture(e.pointerId);
      drag = { x: e.clientX, y: e.clientY, pan: e.button === 2 || e.shiftKey || e.button === 1 };
      canvas.style.cursor = 'grabbing';
    });
    canvas.addEventListener('pointermove', (e) => {
      if (!drag) return;
      const dx = e.clientX - drag.x, dy = e.clientY - drag.y, c = this.camera;
      drag.x = e.clientX;
      drag.y = e.clientY;
      if (drag.pan) {
        const s = c.distance / Math.max(1, canvas.clientHeight);
        const right = [-Math.sin(c.yaw), Math.cos(c.yaw), 0];
        const up = [-Math.sin(c.pitch) * Math.cos(c.yaw), -Math.sin(c.pitch) * Math.sin(c.yaw), Math.cos(c.pitch)];
        for (let k = 0; k < 3; k++) c.target[k] += (-dx * right[k] + dy * up[k]) * s;
      } else {
        c.yaw -= dx * 0.01;
        c.pitch = Math.max(-1.55, Math.min(1.55, c.pitch + dy * 0.01));
      }
      this.draw();
    });
    const end = () => { drag = null; canvas.style.cursor = 'grab'; };
    canvas.addEventListener('pointerup', end);
    canvas.addEventListener('pointercancel', end);
    canvas.addEventListener('wheel', (e) => {
      e.preventDefault();
      this.camera.distance *= Math.exp(e.deltaY * 0.001);
      this.draw();
    }, { passive: false });
    canvas.addEventListener('dblclick', () => this.frameAll());
  }
}

export function drawLegend(canvas, stops) {
  const ctx = canvas.getContext('2d');
  const image = ctx.createImageData(canvas.width, canvas.height);
  for (let x = 0; x < canvas.width; x++) {
    const [r, g, b] = ramp(stops, x / (canvas.width - 1));
    for (let y = 0; y < canvas.height; y++) image.data.set([r * 255, g * 255, b * 255, 255], (y * canvas.width + x) * 4);
  }
  ctx.putImageData(image, 0, 0);
}
