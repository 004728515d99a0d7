// The plug-in's message boxes and file dialogs, shown in the page and answered to the host.
import { post } from './api.js';

const BUTTONS = { ok: ['ok'], okcancel: ['ok', 'cancel'], yesno: ['yes', 'no'], yesnocancel: ['yes', 'no', 'cancel'] };
const LABELS = { ok: 'OK', cancel: 'Cancel', yes: 'Yes', no: 'No' };

export class Dialogs {
  constructor(onError) {
    this.el = document.getElementById('dialog');
    this.onError = onError;
    this.current = null;
    // Escape in a dialog is its cancel: Cancel, or No where there is no Cancel
    this.el.addEventListener('cancel', (e) => {
      e.preventDefault();
      if (!this.current) return;
      const d = this.current;
      if (d.kind !== 'message') this.answer({ answer: 'cancel' });
      else {
        const b = BUTTONS[d.buttons] || ['ok'];
        this.answer({ answer: b.includes('cancel') ? 'cancel' : b[b.length - 1] });
      }
    });
  }

  show(d) {
    if (this.current && this.current.id === d.id) return;
    this.current = d;
    const title = document.getElementById('dialogTitle'), text = document.getElementById('dialogText');
    const file = document.getElementById('dialogFile'), path = document.getElementById('dialogPath');
    const buttons = document.getElementById('dialogButtons');
    buttons.textContent = '';
    const button = (name, label, fn) => {
      const b = document.createElement('button');
      b.type = 'button';
      b.textContent = label;
      b.dataset.answer = name;
      b.addEventListener('click', fn);
      buttons.append(b);
      return b;
    };
    if (d.kind === 'message') {
      title.textContent = d.caption;
      text.textContent = d.text;
      text.className = d.icon;
      file.hidden = true;
      const names = BUTTONS[d.buttons] || ['ok'];
      names.forEach((n) => button(n, LABELS[n], () => this.answer({ answer: n })));
      this.el.showModal();
      buttons.firstChild.focus();
    } else {
      title.textContent = d.title || (d.kind === 'save' ? 'Save' : 'Open');
      text.textContent = d.kind === 'save' ? 'Name the file to write (a path on the machine running vomark).'
                                           : 'Name an existing file (a path on the machine running vomark).';
      text.className = '';
      file.hidden = false;
      let initial = d.initialFile;
      if (!initial && d.initialDir) initial = d.initialDir.replace(/\/?$/, '/');
      path.value = initial || '';
      document.getElementById('dialogFilter').textContent =
        d.filters.map((f) => `${f.name}`).join(', ') + (d.defaultExt ? ` — .${d.defaultExt} is added when no extension is given` : '');
      const ok = () => this.answer(path.value ? { path: path.value } : { answer: 'cancel' });
      button('ok', d.kind === 'save' ? 'Save' : 'Open', ok);
      button('cancel', 'Cancel', () => this.answer({ answer: 'cancel' }));
      path.onkeydown = (e) => { if (e.key === 'Enter') { e.preventDefault(); ok(); } };
      this.el.showModal();
      path.focus();
    }
  }

  async answer(body) {
    const d = this.current;
    if (!d) return;
    this.close(d.id);
    try {
      await post('/api/dialog', { id: d.id, ...body });
    } catch (e) {
      this.onError(e);
    }
  }

  // The host closed dialog `id` (answered here or elsewhere).
  close(id) {
    if (!this.current || this.current.id !== id) return;
    this.current = null;
    if (this.el.open) this.el.close();
  }

  get open() { return this.current !== null; }
}
