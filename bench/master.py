"""What --master costs beside the plain render: each render of one score
run several times, interleaved, to standard output thrown away; the
medians of the wall-clock and the processor time (every thread), and the
machine's load during the runs. With a second program, the same renders of
it too, in the same run, for a before and after.

usage: master.py SKLADBA REGISTERS SCORE [RUNS] [OTHER_SKLADBA]
       (the score: skladba-bench --write-score piece.txt)"""
import os
import statistics
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    programs = [('this', sys.argv[1])]
    registers, score = sys.argv[2], sys.argv[3]
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 7
    if len(sys.argv) > 5:
        programs.append(('other', sys.argv[5]))
    renders = [('default', []), ('--master', ['--master']), ('--master --room 0', ['--master', '--room', '0'])]
    times, loads = {}, []
    for _ in range(runs):
        for name, program in programs:
            for render, options in renders:
                start, before = time.monotonic(), os.times()
                with open(os.devnull, 'wb') as nowhere:
                    subprocess.run([program, score, '--registers', registers, '-q', '-o', '-'] + options,
                                   stdout=nowhere, check=True)
                after = os.times()
                processor = (after.children_user - before.children_user) + (after.children_system - before.children_system)
                times.setdefault((name, render), []).append((time.monotonic() - start, processor))
        loads.append(os.getloadavg()[0])
    for (name, render), t in times.items():
        print('%-6s %-18s wall %.2f s (%.2f to %.2f)  processor %.2f s' % (
            name, render, statistics.median(x[0] for x in t), min(x[0] for x in t), max(x[0] for x in t),
            statistics.median(x[1] for x in t)))
    print('load average during the runs: %.1f to %.1f' % (min(loads), max(loads)))


if __name__ == '__main__':
    main()
