// The sums of an edit's answer read as samples, at each width the server
// writes, at the edges of each width and at any offset in the answer.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { samples } from '../../web/src/vzorky.js';

// The low width bytes of each sum, little-endian, after skip bytes of
// something else (the answer's JSON).
function bytesOf(sums, width, skip) {
  const out = new Uint8Array(skip + sums.length * width);
  sums.forEach((s, i) => {
    for (let k = 0; k < width; k++) out[skip + i * width + k] = (s >> (8 * k)) & 0xFF;
  });
  return out.subarray(skip);
}

const edges = {
  2: [0, 1, -1, 32767, -32768, 255, -256],
  3: [0, 1, -1, 8388607, -8388608, 65535, -65536, 32768, -32769],
  // (the largest a sample of the page's audio holds exactly near 2^31)
  4: [0, 1, -1, 2147483520, -2147483648, 16777215, -16777216],
};

test('every sum comes back as itself over 32768, at every width and offset', () => {
  for (const [width, sums] of Object.entries(edges)) {
    for (const skip of [0, 1, 2, 3, 4]) {
      const got = Array.from(samples(bytesOf(sums, +width, skip), +width), (x) => Math.round(x * 32768));
      assert.deepEqual(got, sums, `width ${width}, offset ${skip}`);
    }
  }
});

test('a last sum cut short is left out', () => {
  const bytes = bytesOf([5, -7], 3, 4);
  assert.deepEqual(Array.from(samples(bytes.subarray(0, 5), 3), (x) => x * 32768), [5]);
});
