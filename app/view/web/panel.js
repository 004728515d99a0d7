// The modifier's parameter panel, laid out from its dialog template: every control where the
// template puts it, in the state the host's window layer holds. Changes go to the real panel.
// pixels per dialog unit: the stack, the panel and the macro recorder fit a 900-pixel-high screen
const SCALE_X = 1.75, SCALE_Y = 1.45;

function place(el, [x, y, w, h]) {
  el.style.left = `${x * SCALE_X}px`;
  el.style.top = `${y * SCALE_Y}px`;
  el.style.width = `${w * SCALE_X}px`;
  el.style.height = `${h * SCALE_Y}px`;
}

function spinnerStep(control) {
  return control.param && control.param.type === 'float' ? 0.1 : 1;
}

// act(body) posts {action, id, ...} to the panel.
export function renderPanel(container, panel, act) {
  container.textContent = '';
  if (!panel) {
    container.textContent = 'This node has no modifier with a panel.';
    return;
  }
  container.style.width = `${panel.size[0] * SCALE_X}px`;
  container.style.height = `${panel.size[1] * SCALE_Y}px`;
  const edits = new Map(); // parameter name -> its edit field, for the spinners
  for (const c of panel.controls) if (c.kind === 'edit' && c.param) edits.set(c.param.name, c);
  for (const c of panel.controls) {
    let el;
    let rect = c.rect;
    switch (c.kind) {
      case 'button':
        el = document.createElement('button');
        el.type = 'button';
        el.textContent = c.text;
        el.addEventListener('click', () => act({ action: 'click', id: c.id }));
        break;
      case 'edit':
        el = document.createElement('input');
        el.type = 'text';
        el.value = c.text;
        el.addEventListener('change', () => {
          const v = Number(el.value);
          if (Number.isFinite(v)) act({ action: 'spinner', id: c.id, value: v });
          else el.value = c.text;
        });
        el.addEventListener('keydown', (e) => { if (e.key === 'Enter') el.blur(); });
        break;
      case 'spinner': {
        el = document.createElement('div');
        const edit = c.param && edits.get(c.param.name);
        for (const [label, sign] of [['▲', 1], ['▼', -1]]) {
          const b = document.createElement('button');
          b.type = 'button';
          b.textContent = label;
          b.disabled = !c.enabled;
          b.addEventListener('click', () => {
            const now = Number(edit ? edit.text : 0) || 0;
            act({ action: 'spinner', id: c.id, value: now + sign * spinnerStep(c) });
          });
          el.append(b);
        }
        break;
      }
      case 'check': {
        el = document.createElement('label');
        const box = document.createElement('input');
        box.type = 'checkbox';
        box.checked = c.checked;
        box.disabled = !c.enabled;
        box.addEventListener('change', () => act({ action: 'check', id: c.id, on: box.checked }));
        el.append(box, document.createTextNode(c.text));
        break;
      }
      case 'combo':
        el = document.createElement('select');
        c.items.forEach((item, i) => el.append(new Option(item, i, false, i === c.selection)));
        el.addEventListener('change', () => act({ action: 'select', id: c.id, index: Number(el.value) }));
        // the template gives the list no label of its own: its parameter names it for readers
        if (c.param) el.setAttribute('aria-label', c.param.name);
        rect = [rect[0], rect[1], rect[2], 12]; // the template's height includes the open list
        break;
      case 'group': {
        el = document.createElement('div');
        const caption = document.createElement('span');
        caption.textContent = c.text;
        el.append(caption);
        break;
      }
      default:
        el = document.createElement('div');
        el.textContent = c.text;
        el.style.textAlign = c.align;
    }
    el.classList.add('ctl', c.kind);
    // labels and frames share id 65535 (no id of their own): they get no element id
    if (c.id !== 65535) {
      el.id = `ctl-${c.id}`;
      el.dataset.id = c.id;
    }
    if (!c.enabled) {
      if ('disabled' in el) el.disabled = true;
      el.classList.add('disabled');
    }
    el.hidden = !c.visible;
    place(el, rect);
    container.append(el);
  }
}

// During a recording only the status line changes.
export function showStatus(container, text) {
  const status = container.querySelector('#ctl-1006');
  if (status) status.textContent = text;
}
