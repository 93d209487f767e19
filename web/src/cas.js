// A moment of the piece for people: m:ss.s.
export function formatTime(s) {
  const m = Math.floor(s / 60);
  const rest = (s - m * 60).toFixed(1).padStart(4, '0');
  return `${m}:${rest}`;
}
