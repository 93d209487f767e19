"""Change to diagnostics in skladba lsp: how long after an editor sends a
change of the generated 3-minute piece in four voices the server publishes
the check of the new text, measured as an editor sees it, from the change
written to the pipe to the diagnostics read back.

usage: lsp.py SKLADBA_BENCH SKLADBA REGISTERS [--runs N] [--minutes M]

Each change replaces one note letter in the middle of the piece, after the
diagnostics of the one before came, so that every analysis stands alone;
a burst then sends twelve changes 60 ms apart, the pace of quick typing,
and reports when the last one's diagnostics came."""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'lsp'))
from klient import Klient, span  # noqa: E402


def cpu_ms(pid):
    """The CPU time a process has used so far (user and system), in ms."""
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000.0 / os.sysconf('SC_CLK_TCK')


def spread(values):
    v = sorted(values)
    return 'median %5.1f ms, min %5.1f, max %5.1f (n=%d)' % (statistics.median(v), v[0], v[-1], len(v))


def main():
    p = argparse.ArgumentParser()
    p.add_argument('bench')
    p.add_argument('skladba')
    p.add_argument('registers')
    p.add_argument('--runs', type=int, default=30)
    p.add_argument('--minutes', type=int, default=3)
    a = p.parse_args()

    folder = tempfile.mkdtemp(prefix='skladba-lsp-bench-')
    score = os.path.join(folder, 'piece.txt')
    made = subprocess.run([a.bench, '--minutes', str(a.minutes), '--write-score', score],
                          capture_output=True, text=True, check=True)
    print(made.stdout.strip())
    with open(score, encoding='utf-8', errors='replace') as f:
        text = f.read()
    lines = text.split('\n')
    # Note letters in the middle of the piece: (line, character, letter).
    letters = [(n, i, ch) for n, line in enumerate(lines[len(lines) // 3:], len(lines) // 3)
               for i, ch in enumerate(line) if ch in 'cdefga' and i > 0 and line[i - 1] in ' 1248o']
    uri = 'file://' + score
    k = Klient(a.skladba, a.registers)
    try:
        k.initialize()
        start = time.perf_counter()
        k.open(uri, text)
        k.diagnostics(uri, 1)
        print('open: %.1f ms, %d bytes, %d lines' % ((time.perf_counter() - start) * 1000, len(text.encode()), len(lines)))
        version, single = 1, []
        cpu = cpu_ms(k.proc.pid)
        for run in range(a.runs):
            n, i, ch = letters[run * 7 % len(letters)]
            version += 1
            start = time.perf_counter()
            k.change(uri, version, [{'range': span(n, i, n, i + 1), 'text': 'd' if ch != 'd' else 'e'}])
            k.diagnostics(uri, version)
            single.append((time.perf_counter() - start) * 1000)
        print('change to diagnostics:        ' + spread(single))
        print('server CPU time per change:   %5.1f ms (user and system, mean)' % ((cpu_ms(k.proc.pid) - cpu) / a.runs))
        with open('/proc/loadavg') as f:
            print('load average while measured:  ' + ' '.join(f.read().split()[:3]))
        bursts = []
        for burst in range(5):
            first = version + 1
            start = time.perf_counter()
            for key in range(12):
                n, i, ch = letters[(burst * 12 + key) * 11 % len(letters)]
                version += 1
                k.change(uri, version, [{'range': span(n, i, n, i + 1), 'text': 'e' if ch != 'e' else 'f'}])
                if key < 11:
                    time.sleep(0.06)
            last_sent = time.perf_counter()
            seen = []
            while version not in seen:
                seen.append(k.notification('textDocument/publishDiagnostics')['version'])
            bursts.append(((time.perf_counter() - last_sent) * 1000, len([v for v in seen if v >= first])))
        print('burst of 12 at 60 ms, last change to its diagnostics: ' + spread([b[0] for b in bursts]) +
              '; analyses published per burst: %s' % ', '.join(str(b[1]) for b in bursts))
        k.finish()
    finally:
        if k.proc.poll() is None:
            k.proc.kill()


if __name__ == '__main__':
    main()
