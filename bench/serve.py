"""Keystroke to audio and to sheet music in skladba serve: how long after a
key is pressed in the editor the page holds the new render's audio, ready
to play, and shows its sheet music, for a generated 3-minute piece in four
voices, in headless Chromium.

usage: serve.py SKLADBA_BENCH SKLADBA_SERVE REGISTERS [--runs N] [--minutes M] [--skladba SKLADBA]

Each single keystroke replaces one note letter of the score, one second
after the last, so that every render stands alone; the letter is selected
first as a user selects what they see (Shift-Right, which brings it into
view), so that the keystroke does not scroll the editor as well. A burst
then types twelve characters 60 ms apart, the pace of quick typing, where
renders are throttled to one per 200 ms. The page itself records when the
key went down (keydown), when the edit was sent, answered, and when the new
audio is heard in the old one's place (the stretch of samples the edit changed
patched into the audio the page holds, or a whole render loaded, and
handed over on the audio clock). The command line renders the same piece
whole, from scratch, four times before the keystrokes and four times after
(skladba beside skladba-serve, or --skladba), so that a keystroke is
compared with it under the same load."""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'serve'))
from harness import Server, start_chromium, close_chromium  # noqa: E402
from harness import wait as harness_wait  # noqa: E402

# The selection one character long and in the editor's view.
IN_VIEW = """const [from, to] = skladbaTest.selection();
const mark = document.querySelector('#editor .cm-selectionBackground');
if (to - from != 1 || !mark) return false;
const a = mark.getBoundingClientRect(), b = document.querySelector('#editor .cm-scroller').getBoundingClientRect();
return a.left >= b.left && a.right <= b.right && a.top >= b.top && a.bottom <= b.bottom;"""

KEYS = """window.benchKeys = [];
document.addEventListener('keydown', () => benchKeys.push(performance.now()), true);"""


def wait(driver, script):
    return harness_wait(driver, script, timeout=30, step=0.01)


def whole_render(skladba, registers, score):
    """Seconds the command line takes to render the score whole, to a WAV
    beside it."""
    start = time.perf_counter()
    subprocess.run([skladba, '--registers', os.path.abspath(registers), score], capture_output=True, check=True,
                   cwd=os.path.dirname(score))
    return time.perf_counter() - start


def spread(values):
    v = sorted(values)
    return 'median %4.0f ms, min %4.0f, max %4.0f' % (statistics.median(v), v[0], v[-1])


def main():
    p = argparse.ArgumentParser()
    p.add_argument('bench')
    p.add_argument('serve')
    p.add_argument('registers')
    p.add_argument('--runs', type=int, default=15)
    p.add_argument('--minutes', type=int, default=3)
    p.add_argument('--skladba', help='the command line (default: skladba beside skladba-serve)')
    a = p.parse_args()
    skladba = a.skladba or os.path.join(os.path.dirname(os.path.abspath(a.serve)), 'skladba')

    folder = tempfile.mkdtemp(prefix='skladba-serve-bench-')
    score = os.path.join(folder, 'piece.txt')
    made = subprocess.run([a.bench, '--minutes', str(a.minutes), '--write-score', score], capture_output=True, text=True, check=True)
    print(made.stdout.strip())
    with open(score, 'rb') as f:
        text = f.read()
    whole = [whole_render(skladba, a.registers, score) * 1000 for _ in range(4)]
    server = Server(a.serve, a.registers, text)
    driver = start_chromium()
    from selenium.webdriver.common.keys import Keys
    try:
        # &test: the page hands its stats to the benchmark (window.skladbaTest).
        driver.get(server.url + '&test')
        wait(driver, "return document.getElementById('audio').duration > 0")
        # The sheet music shown beside the text, drawn once before the keys.
        if not driver.execute_script("return document.getElementById('show-notation').checked"):
            driver.find_element('id', 'show-notation').click()
        shown = time.time()
        harness_wait(driver, 'return skladbaTest.sheet && skladbaTest.sheet.stats.length > 0', timeout=300, step=0.05)
        first_sheet = time.time() - shown
        driver.execute_script(KEYS)
        value = driver.execute_script('return skladbaTest.text()')
        # Note letters in the middle of the piece, each replaced in turn.
        letters = [i for i in range(len(value) // 3, len(value)) if value[i] in 'cdefga' and value[i - 1] in ' 1248o']
        single, server_ms, answer_ms, load_ms, element_ms, sheet, engrave, stretches = [], [], [], [], [], [], [], []
        for run in range(a.runs):
            i = letters[run * 7 % len(letters)]
            # The letter selected as a user selects what they see: the caret
            # before it, then Shift-Right, which brings it into view.
            driver.execute_script(f'skladbaTest.select({i}, {i})')
            area = driver.switch_to.active_element
            area.send_keys(Keys.SHIFT + Keys.ARROW_RIGHT)
            wait(driver, IN_VIEW)
            before = driver.execute_script('return skladbaTest.stats.length')
            area.send_keys('d' if value[i] != 'd' else 'e')
            s = wait(driver, f'return skladbaTest.stats.length > {before} && skladbaTest.stats[skladbaTest.stats.length - 1]')
            key = driver.execute_script('return benchKeys[benchKeys.length - 1]')
            single.append(s['audio'] - key)
            server_ms.append(s['serverMs'])
            answer_ms.append(s['answered'] - key)
            load_ms.append(s['audio'] - s['answered'])
            element_ms.append(s['audio'] - s['created'])
            # The sheet music of this render (or of a later one) drawn.
            n = wait(driver, f"return skladbaTest.sheet.stats.find((n) => n.id >= {s['id']})")
            sheet.append(n['drawn'] - key)
            engrave.append(n['ms'])
            # How many stretches of measures the page engraved again (a page
            # that engraves the whole score each time reports none).
            if 'engraved' in n:
                stretches.append(len(n['engraved']))
            time.sleep(1)
        # A burst: each key's wait for the first audio whose edit was sent after it.
        end = driver.execute_script('return skladbaTest.text().length')
        driver.execute_script(f'skladbaTest.select({end}, {end}); benchKeys = []')
        area = driver.switch_to.active_element
        before = driver.execute_script('return skladbaTest.stats.length')
        for ch in '( burst 12 )':
            area.send_keys(ch)
            time.sleep(0.06)
        wait(driver, "return document.getElementById('status').textContent == 'saved'")
        time.sleep(1.5)
        stats = driver.execute_script(f'return skladbaTest.stats.slice({before})')
        drawn = driver.execute_script('return skladbaTest.sheet.stats')
        keys = driver.execute_script('return benchKeys')
        burst, sheet_burst = [], []
        for k in keys:
            later = [s for s in stats if s['sent'] >= k]
            if later:
                burst.append(min(s['audio'] for s in later) - k)
                first = min(s['id'] for s in later)
                pictures = [n['drawn'] for n in drawn if n['id'] >= first]
                if pictures:
                    sheet_burst.append(min(pictures) - k)
        seconds = stats[-1]['seconds'] if stats else 0
        driver_stretches = driver.execute_script('return skladbaTest.sheet.slots ? skladbaTest.sheet.slots.length : 1')
        whole += [whole_render(skladba, a.registers, score) * 1000 for _ in range(4)]
    finally:
        close_chromium(driver)
        server.close()
        subprocess.run(['rm', '-rf', folder])

    load = os.getloadavg()
    print(f'piece: {seconds:.1f} s of audio; machine load {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}; {os.cpu_count()} cores')
    print(f'single keystroke to new audio ({a.runs} keystrokes):  {spread(single)}')
    print(f'  keystroke to the answer (saved and rendered):   {spread(answer_ms)}')
    print(f'  of which the render in the server:               {spread(server_ms)}')
    print(f'  answer to audio ready at the same position:      {spread(load_ms)}')
    print(f'  of which the page fetching and patching audio:  {spread(element_ms)}')
    print(f'the command line rendering it whole (8 times):    {spread(whole)}')
    print(f'  a keystroke against it, median to median:        {statistics.median(single) / statistics.median(whole):.2f} times')
    print(f'typing 12 keys 60 ms apart, each key to audio:     {spread(burst)}')
    print(f'single keystroke to new sheet music:               {spread(sheet)}')
    print(f'  of which engraving it in the page:               {spread(engrave)}')
    print(f'typing 12 keys 60 ms apart, each key to sheet:     {spread(sheet_burst)}')
    print(f'sheet music first shown, the whole score drawn:    {first_sheet * 1000:4.0f} ms')
    if stretches:
        print(f'stretches engraved again per keystroke:            median {statistics.median(stretches):g}, '
              f'max {max(stretches)} of {driver_stretches}')


if __name__ == '__main__':
    main()
