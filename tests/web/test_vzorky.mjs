// The sums of an edit's answer read as samples, at each width the server
// writes, at the edges of each width and at any offset in the answer.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { samples, samplesOfDifferences } from '../../web/src/vzorky.js';

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

test('sums sent as differences come back exactly, across the wrap of 32 bits', () => {
  // Each width with sums whose differences reach its edges, and sums at
  // both ends of 32 bits, whose differences only hold modulo 2^32.
  const runs = [
    [2, [70000, 70000 + 32767, 70000 - 1, 70000 - 1 - 32768, 70000 - 1 - 32768 + 5]],
    [2, [2147483640, -2147483640, 2147483647, -2147483648]],
    [3, [0, 8388607, -1, 7, 7 - 8388608]],
    [4, [2147483520, -2147483648, 2147483520, 0, -1]],
  ];
  for (const [width, sums] of runs) {
    const differences = sums.map((x, i) => (x - (i ? sums[i - 1] : sums[0])) | 0);
    for (const skip of [0, 1, 2, 3]) {
      const got = Array.from(samplesOfDifferences(bytesOf(differences, width, skip), width, sums[0]),
        (x) => Math.round(x * 32768));
      assert.deepEqual(got, sums.map((x) => Math.fround(x / 32768) * 32768), `width ${width}, offset ${skip}`);
    }
  }
});
