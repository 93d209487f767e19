// The sums of a render's mix as the page's audio holds them: each sum
// given as bytes, the low width bytes (2, 3 or 4) of its two's complement,
// little-endian, becomes the sample sum / 32768 (the gain scales it).
export function samples(bytes, width) {
  const n = Math.floor(bytes.length / width);
  const data = new Float32Array(n);
  if (width === 2 && bytes.byteOffset % 2 === 0) {
    const s = new Int16Array(bytes.buffer, bytes.byteOffset, n);
    for (let i = 0; i < n; i++) data[i] = s[i] / 32768;
  } else if (width === 4 && bytes.byteOffset % 4 === 0) {
    const s = new Int32Array(bytes.buffer, bytes.byteOffset, n);
    for (let i = 0; i < n; i++) data[i] = s[i] / 32768;
  } else if (width === 3) {
    // The width of most patches, in the hot path of a keystroke: unrolled.
    for (let i = 0, j = 0; i < n; i++, j += 3) {
      data[i] = ((bytes[j] | (bytes[j + 1] << 8) | (bytes[j + 2] << 16)) << 8 >> 8) / 32768;
    }
  } else {
    // 2 or 4 bytes at an odd offset: the top byte carries the sign.
    const top = 8 * (4 - width);
    for (let i = 0, j = 0; i < n; i++, j += width) {
      let x = 0;
      for (let k = width - 1; k >= 0; k--) x = (x << 8) | bytes[j + k];
      data[i] = ((x << top) >> top) / 32768;
    }
  }
  return data;
}

// Sums sent as differences (each the low width bytes of its difference
// from the sum before, little-endian; the first sum is first): added up
// again modulo 2^32, which gives every sum back exactly, then each / 32768.
export function samplesOfDifferences(bytes, width, first) {
  const n = Math.floor(bytes.length / width);
  const data = new Float32Array(n);
  let sum = first | 0;
  if (width === 2 && bytes.byteOffset % 2 === 0) {
    // The width of most patches, in the hot path of a keystroke.
    const d = new Int16Array(bytes.buffer, bytes.byteOffset, n);
    for (let i = 0; i < n; i++) data[i] = (sum = (sum + d[i]) | 0) / 32768;
    return data;
  }
  const top = 8 * (4 - width);
  for (let i = 0, j = 0; i < n; i++, j += width) {
    let x = 0;
    for (let k = width - 1; k >= 0; k--) x = (x << 8) | bytes[j + k];
    data[i] = (sum = (sum + ((x << top) >> top)) | 0) / 32768;
  }
  return data;
}
