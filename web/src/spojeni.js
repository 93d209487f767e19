// The server and the file on disk: the score loaded, changes made by other
// programs, and a server that stopped answering.
import { ENCODING_NAMES, decode, detect } from './kodovani.js';
import * as editor from './editor.js';
import { banner, dropBanner } from './stranka.js';
import { state, ui } from './stav.js';
import { downloadScore, schedule, showSaveState } from './ukladani.js';

// The event of a change may overtake the answer of the page's own save:
// before it is taken for another program's change, the server is asked
// how the file stands now.
export async function checkDisk() {
  if (state.inFlight || state.conflict || state.disk === state.base) return;
  try {
    state.disk = (await (await fetch('/api/info')).json()).version;
  } catch (e) {
    return;
  }
  if (!state.inFlight && !state.conflict && state.disk !== state.base) external();
}

export function external() {
  state.conflict = true;
  const gone = state.disk === 'none';
  banner('changed', gone
    ? `${state.name} was removed by another program. The page keeps your text; nothing is saved until you choose.`
    : `${state.name} was changed by another program. The page keeps your text; nothing is saved until you choose.`,
  [[gone ? 'Save the page\'s text again' : 'Keep the page\'s text (overwrite the file)', keepMine],
    [gone ? 'Start from an empty score' : 'Load the file (replace the page\'s text)', loadFile],
    ['Download the page\'s text', downloadScore]], true);
  showSaveState();
}

function keepMine() {
  state.base = state.disk;
  state.conflict = false;
  dropBanner('changed');
  schedule();
}

async function loadFile() {
  const previous = editor.text();
  await loadScore();
  dropBanner('changed');
  if (previous !== editor.text()) {
    banner('replaced', 'The page\'s text was replaced by the file\'s.', [
      ['Put the page\'s text back (and save it)', () => { editor.setText(previous); dropBanner('replaced'); schedule(); }],
      ['Dismiss', () => dropBanner('replaced')]]);
  }
}

export function setOffline(off) {
  if (off === state.offline) return;
  state.offline = off;
  if (off) {
    banner('offline', `The server is not answering (it may have been stopped). Your edits stay in this page and are saved when it answers again on ${location.host}.`,
      [['Download the score', downloadScore]], true);
  } else {
    dropBanner('offline');
  }
  showSaveState();
}

// The score's versions as the server tells them, at every change.
export function listen() {
  const events = new EventSource('/api/events');
  events.addEventListener('version', (e) => {
    state.disk = e.data;
    if (state.conflict && state.disk === state.base) {
      // The file is back to what the page's text was made from.
      state.conflict = false;
      dropBanner('changed');
      schedule();
    }
    checkDisk();
  });
  events.addEventListener('open', () => {
    if (state.offline) schedule();
  });
  events.addEventListener('error', () => {
    if (events.readyState === EventSource.CLOSED) setTimeout(listen, 3000);
  });
}

// The file as it stands, in the page, and rendered.
export async function loadScore() {
  const response = await fetch('/api/score');
  const bytes = new Uint8Array(await response.arrayBuffer());
  state.enc = detect(bytes);
  const text = decode(bytes, state.enc);
  state.base = state.disk = response.headers.get('X-Skladba-Version') || 'none';
  state.saved = text;
  state.conflict = false;
  ui.encoding.textContent = ENCODING_NAMES[state.enc.kind] + (state.enc.crlf ? ', CR LF' : '') +
    (state.base === 'none' ? ', new file' : '');
  editor.setText(text);
  if (state.language) editor.setLanguage(state.language, state.enc.kind);
  schedule();
}
