// The timeline over the animation range, in whole frames: drag to scrub, play and pause, and the
// keys of animation hosts (space, arrows, Home, End).
export class Timeline {
  constructor({ track, ticks, playhead, playButton, frameInput, start, end, fps, onFrame }) {
    Object.assign(this, { track, ticks, playhead, playButton, frameInput, onFrame });
    this.start = Math.ceil(start);
    this.end = Math.max(this.start, Math.floor(end));
    this.fps = fps;
    this.frame = this.start;
    this.playing = false;
    frameInput.min = this.start;
    frameInput.max = this.end;
    this.drawTicks();
    this.listen();
    new ResizeObserver(() => this.place()).observe(track);
  }

  // Marks every frame or every few; labels at multiples of a round step, and always the first and
  // the last frame, where a round label too near them gives way.
  drawTicks() {
    this.ticks.textContent = '';
    const span = this.end - this.start || 1;
    const step = [1, 2, 5, 10, 20, 50, 100, 200, 500, 1000].find((s) => span / s <= 20) || 5000;
    const labelled = (f) => f === this.start || f === this.end ||
      (f % step === 0 && f - this.start >= step / 2 && this.end - f >= step / 2);
    for (let f = this.start; f <= this.end; f++) {
      if ((f - this.start) % Math.max(1, step / 5) !== 0 && f !== this.end && f % step !== 0) continue;
      const mark = document.createElement('div');
      const major = f % step === 0 || f === this.start || f === this.end;
      mark.className = major ? 'major' : '';
      mark.style.left = `${this.fraction(f) * 100}%`;
      this.ticks.append(mark);
      if (labelled(f)) {
        const label = document.createElement('span');
        label.textContent = f;
        label.style.left = `${this.fraction(f) * 100}%`;
        // the first and last labels stay inside the track
        if (f === this.start) label.style.transform = 'none';
        else if (f === this.end) label.style.transform = 'translateX(-100%)';
        this.ticks.append(label);
      }
    }
  }

  fraction(frame) { return this.end === this.start ? 0 : (frame - this.start) / (this.end - this.start); }

  place() {
    this.playhead.style.left = `calc(${this.fraction(this.frame) * 100}% - 1px)`;
    this.frameInput.value = this.frame;
  }

  // Moves to `frame` (clamped, whole) and tells the page when it changed.
  go(frame, force = false) {
    const f = Math.min(this.end, Math.max(this.start, Math.round(frame)));
    if (f === this.frame && !force) return;
    this.frame = f;
    this.place();
    this.onFrame(f);
  }

  // The frame under `clientX` on the track as it lay when the drag began (`r`): reading the track's
  // place again at every move would have the browser lay out the page that the move before changed.
  frameAt(clientX, r = this.track.getBoundingClientRect()) {
    return this.start + ((clientX - r.left) / Math.max(1, r.width)) * (this.end - this.start);
  }

  toggle(play = !this.playing) {
    this.playing = play;
    this.playButton.textContent = play ? '❚❚' : '▶';
    clearInterval(this.timer);
    if (play) this.timer = setInterval(() => this.go(this.frame >= this.end ? this.start : this.frame + 1), 1000 / this.fps);
  }

  listen() {
    let scrubbing = null; // the track's place while a drag lasts
    this.track.addEventListener('pointerdown', (e) => {
      scrubbing = this.track.getBoundingClientRect();
      this.track.setPointerCapture(e.pointerId);
      this.toggle(false);
      this.go(this.frameAt(e.clientX, scrubbing));
    });
    this.track.addEventListener('pointermove', (e) => { if (scrubbing) this.go(this.frameAt(e.clientX, scrubbing)); });
    const stop = () => { scrubbing = null; };
    this.track.addEventListener('pointerup', stop);
    this.track.addEventListener('pointercancel', stop);
    this.playButton.addEventListener('click', () => this.toggle());
    this.frameInput.addEventListener('change', () => this.go(Number(this.frameInput.value)));
    document.addEventListener('keydown', (e) => {
      const t = e.target;
      const pressable = t instanceof HTMLButtonElement || (t instanceof HTMLInputElement && t.type === 'checkbox');
      if (document.querySelector('dialog[open]') || t instanceof HTMLSelectElement) return;
      if (t instanceof HTMLInputElement && !pressable) return; // typing in a field
      const keys = {
        ' ': () => this.toggle(),
        ArrowLeft: () => this.go(this.frame - 1),
        ArrowRight: () => this.go(this.frame + 1),
        Home: () => this.go(this.start),
        End: () => this.go(this.end),
      };
      if (keys[e.key] && !e.ctrlKey && !e.altKey && !e.metaKey) {
        e.preventDefault();
        if (pressable) t.blur(); // space plays: it must not press Record again or flip a switch
        if (e.key !== ' ') this.toggle(false);
        keys[e.key]();
      }
    });
  }
}
