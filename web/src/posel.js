// The page's messenger, a worker: it sends each edit to the server and
// reads the answer in a thread of its own, so that neither waits for the
// page's own work (the editor drawing the keystroke, a frame of the sheet
// music). The request leaves as soon as the edit is made, and the changed
// sums come back as samples ready to copy into the audio.
//
// Asked { id, url, body }, it answers { id, answer, data } (data: the
// patch's samples, or null), or { id, offline } when the server could not
// be reached, or { id, error } with the server's refusal.
import { samples, samplesOfDifferences } from './vzorky.js';

self.onmessage = async (e) => {
  const { id, url, body } = e.data;
  let response;
  try {
    response = await fetch(url, {
      method: 'POST', headers: { 'X-Skladba': '1', 'Content-Type': 'application/octet-stream' }, body,
    });
  } catch (err) {
    self.postMessage({ id, offline: true });
    return;
  }
  try {
    if (!response.ok) throw new Error((await response.text()).trim() || `HTTP ${response.status}`);
    const bytes = await response.arrayBuffer();
    // The length of the JSON (32-bit little-endian), the JSON, then the
    // sums the render's patch holds, answer.width bytes each.
    const length = new DataView(bytes, 0, 4).getUint32(0, true);
    const answer = JSON.parse(new TextDecoder().decode(new Uint8Array(bytes, 4, length)));
    const p = answer.render && answer.render.patch;
    // (sums=3: each sum as its difference from the one before, the
    // first sum in answer.first.)
    const sums = p && !p.whole && bytes.byteLength > 4 + length ? new Uint8Array(bytes, 4 + length) : null;
    const data = !sums ? null : 'first' in answer
      ? samplesOfDifferences(sums, answer.width, answer.first) : samples(sums, answer.width || 4);
    self.postMessage({ id, answer, data }, data ? [data.buffer] : []);
  } catch (err) {
    self.postMessage({ id, error: err.message || String(err) });
  }
};
