// The page's status line and its banners.
import { ui } from './stav.js';

export function setStatus(text, bad) {
  ui.status.textContent = text;
  ui.status.classList.toggle('bad', !!bad);
}

// A banner with a text and buttons ([label, action] each), made or
// replaced under its id.
export function banner(id, text, buttons, danger) {
  let b = document.getElementById(id);
  if (!b) {
    b = document.createElement('div');
    b.id = id;
    b.className = 'banner' + (danger ? ' danger' : '');
    ui.banners.appendChild(b);
  }
  b.textContent = '';
  const span = document.createElement('span');
  span.textContent = text;
  b.appendChild(span);
  for (const [label, action] of buttons) {
    const button = document.createElement('button');
    button.textContent = label;
    button.addEventListener('click', action);
    b.appendChild(button);
  }
}

export function dropBanner(id) {
  const b = document.getElementById(id);
  if (b) b.remove();
}

// Hands bytes to the browser as a file to keep.
export function downloadBytes(bytes, name) {
  const blob = new Blob([bytes], { type: 'application/octet-stream' });
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.appendChild(a);
  a.click();
  setTimeout(() => { URL.revokeObjectURL(a.href); a.remove(); }, 1000);
}
