"""skladba serve in a real headless Chromium: type a score, hear it, see a
bad one's error, find the file on disk as typed, and be offered a change
made by another program instead of overwriting it. Skipped (status 77)
without chromium, chromium-driver and python3-selenium.

usage: test_browser.py SKLADBA SKLADBA_SERVE REGISTERS [--screenshot PNG SCORE]
With --screenshot, opens SCORE, plays it for a while and saves a picture
of the page instead of testing."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from harness import Server, close_chromium, require_chromium, start_chromium, wait

SKLADBA, SERVE, REGISTERS = map(os.path.abspath, sys.argv[1:4])
A = "document.getElementById('audio')"
TEXT = 'skladbaTest.text()'
# The caret at the end of the text.
TO_END = 'skladbaTest.select(skladbaTest.text().length, skladbaTest.text().length)'


# The largest difference between the samples the page's audio holds, at
# its gain, and its render's WAV; -1 when their lengths differ.
HELD_VS_WAV = f"""const a = {A};
    return fetch(a.src).then((r) => r.arrayBuffer()).then((b) => {{
      const wav = new Int16Array(b, 44), held = a.buffer.getChannelData(0), g = a.gain.gain.value;
      if (wav.length !== held.length) return -1;
      let worst = 0;
      for (let i = 0; i < wav.length; i++) worst = Math.max(worst, Math.abs(held[i] * g * 32768 - wav[i]));
      return worst;
    }});"""


def rendered(text, *args):
    """What the renderer itself makes of the text: the WAV's seconds, or its error."""
    folder = tempfile.mkdtemp()
    try:
        with open(os.path.join(folder, 'piece.txt'), 'w', encoding='cp1250') as f:
            f.write(text)
        run = subprocess.run([SKLADBA, '--registers', REGISTERS, '-q', 'piece.txt', *args], cwd=folder,
                             capture_output=True, text=True)
        if run.returncode:
            return run.stderr
        bytes_a_second = 6 * 48000 if '--master' in args else 2 * 22050
        return (os.path.getsize(os.path.join(folder, 'piece.wav')) - 44) / bytes_a_second
    finally:
        shutil.rmtree(folder)


class Editor(unittest.TestCase):
    def setUp(self):
        self.driver = start_chromium()
        self.server = Server(SERVE, REGISTERS, name='new.txt')   # a score that does not exist yet

    def tearDown(self):
        close_chromium(self.driver)
        self.server.close()

    def open(self):
        """The page, with its test hook (window.skladbaTest)."""
        self.driver.get(self.server.url + '&test')

    def type(self, keys):
        self.driver.find_element('css selector', '#editor .cm-content').send_keys(keys)

    def open_and_type(self, text):
        """The page opened on an empty score, text typed into it, and the
        render of the whole text loaded; its length in seconds."""
        self.open()
        wait(self.driver, "return document.getElementById('status').textContent == 'saved'")
        self.type(text)
        # The last keystroke may still be rendering: wait for the render of the whole text.
        seconds = rendered(text)
        wait(self.driver, f"return Math.abs({A}.duration - {seconds}) < 0.001")
        return seconds

    def saved(self, text):
        wait(self.driver, "return document.getElementById('status').textContent == 'saved'")
        self.assertEqual(self.server.read_score().decode('cp1250'), text)

    def test_typing_playing_and_errors(self):
        d = self.driver
        text = 't100 R4 4 o1 c e g e | 2c c'
        seconds = self.open_and_type(text)
        self.saved(text)

        # Playing, an edit keeps the position; the cursor follows the audio.
        d.execute_script(f'{A}.play()')
        wait(d, f'return {A}.currentTime > 1')
        src = d.execute_script(f'return {A}.src')
        self.type(' e')
        # The render of the whole edit, not one of a keystroke before it.
        seconds = rendered(text + ' e')
        wait(d, f"return {A}.src != '{src}' && Math.abs({A}.duration - {seconds}) < 0.001 && !{A}.paused")
        self.assertGreater(d.execute_script(f'return {A}.currentTime'), 1)
        x = d.execute_script("const svg = document.getElementById('roll').shadowRoot.querySelector('svg');"
                             "const a = document.getElementById('audio');"
                             "return [+svg.querySelector('.cursor').getAttribute('x1'), +svg.dataset.x0 + a.currentTime * svg.dataset.pxPerS]")
        self.assertAlmostEqual(x[0], x[1], delta=40)   # within a second of the frame drawn before
        d.execute_script(f'{A}.pause()')

        # A bad score: its LINE:COL error in the list, marked in the text; the last good audio stays.
        self.type(' t0 c')
        bad = text + ' e t0 c'
        message = re.search(r':(\d+:\d+): (.*)', rendered(bad))
        item = wait(d, "const e = document.querySelector('#problems li.error'); return e && e.textContent")
        self.assertEqual(item, message.group(1) + 'error: ' + message.group(2))
        self.assertEqual(d.execute_script("return document.querySelector('#editor .cm-lintRange-error').textContent"), 't0')
        self.saved(bad)   # a failed render saves all the same
        src = d.execute_script(f'return {A}.src')
        self.type('c')
        wait(d, "return document.querySelectorAll('#problems li.error').length == 1 && document.getElementById('status').textContent == 'saved'")
        self.assertEqual(d.execute_script(f'return {A}.src'), src)
        self.assertAlmostEqual(d.execute_script(f'return {A}.duration'), seconds, delta=0.001)

        # Typed over a selection, the letters replace it; one undo takes
        # back the letters typed in a row, selection and all.
        now = bad + 'c'
        d.execute_script(f'skladbaTest.select({len(now) - 6}, {len(now)})')
        self.type(' d')
        self.saved(text + ' e d')
        from selenium.webdriver.common.keys import Keys
        self.type(Keys.CONTROL + 'z')
        self.saved(now)

    def test_an_edit_patches_the_audio_playing(self):
        # Playing, a letter changed: the page takes the sums of the stretch
        # that changed from the edit's answer and fetches no audio, plays on
        # from where it was, and what it holds is the render's WAV (to its
        # rounding to 16 bits).
        d = self.driver
        text = 't120 R4 4 o1 ' + 'c d e f g f e d ' * 6
        self.open_and_type(text)
        d.execute_script(f'{A}.play()')
        src, at = wait(d, f'return {A}.currentTime > 1 && [{A}.src, {A}.currentTime]')
        d.execute_script(f'skladbaTest.select({len(text) - 2}, {len(text) - 1})')
        self.type('a')
        wait(d, f"return {A}.src != '{src}'")
        self.assertFalse(d.execute_script(f'return {A}.paused'))
        self.assertGreater(d.execute_script(f'return {A}.currentTime'), at)
        fetched = d.execute_script(f"return performance.getEntriesByType('resource').map((e) => e.name)"
                                   f".filter((n) => n.includes({A}.src.replace(/\\.wav$/, '.')))")
        kinds = [f.rsplit('.', 1)[1] for f in fetched]
        self.assertNotIn('sums', kinds)
        self.assertNotIn('wav', kinds)
        self.assertNotIn('mix', kinds)
        worst = d.execute_script(HELD_VS_WAV)
        self.assertGreaterEqual(worst, 0)
        self.assertLessEqual(worst, 1.01)
        d.execute_script(f'{A}.pause()')

    def test_a_loud_edit_patches_the_audio_exactly(self):
        # Nine voices on one note: the sums the edit changed pass 16 bits
        # and come in 3 bytes each; what the page holds is still the
        # render's WAV.
        d = self.driver
        text = 't120 R4 4 o1 c d e f 1 o1 c' + ' -1 c' * 8
        self.open_and_type(text)
        src = d.execute_script(f'return {A}.src')
        d.execute_script(f'skladbaTest.select({len(text) - 1}, {len(text)})')
        self.type('d')
        wait(d, f"return {A}.src != '{src}' && document.getElementById('status').textContent == 'saved'")
        self.assertLessEqual(d.execute_script(HELD_VS_WAV), 1.01)
        self.assertGreaterEqual(d.execute_script(HELD_VS_WAV), 0)

    def test_a_letter_the_file_cannot_hold_is_marked_where_typed(self):
        # The edit is looked at before the editor takes it in: the problem
        # it finds is marked on the new text, once the editor has it.
        d = self.driver
        self.open()
        wait(d, "return document.getElementById('status').textContent == 'saved'")
        self.type('c d \u2603 e')
        mark = wait(d, "return document.querySelector('#editor .cm-lintRange-error')")
        self.assertEqual(mark.text, '\u2603')
        self.assertIn('not saved', d.find_element('id', 'status').text)
        self.type('\b\b\b')
        wait(d, "return document.getElementById('status').textContent == 'saved'")
        self.assertEqual(self.server.read_score(), b'c d ')

    def test_a_page_at_rest_writes_nothing_from_frame_to_frame(self):
        # Paused, with its roll drawn, the page changes nothing in its
        # elements over thirty frames, so that none costs a layout or a
        # paint (a keystroke's answer would wait for them).
        d = self.driver
        self.server.close()
        self.server = Server(SERVE, REGISTERS, 't120 R4 4 o1 c d e f')   # one render, and nothing after it
        self.open()
        wait(d, f"return {A}.duration > 0 && document.getElementById('status').textContent == 'saved' && "
                "document.getElementById('roll').shadowRoot && "
                "document.getElementById('roll').shadowRoot.querySelector('line.cursor')")
        d.execute_script("""window.changes = [];
            const seen = new MutationObserver((list) => changes.push(...list.map((m) => m.target.nodeName + ' ' + m.attributeName)));
            for (const root of [document.body, document.getElementById('roll').shadowRoot]) {
              seen.observe(root, { subtree: true, childList: true, attributes: true, characterData: true });
            }
            window.frames30 = 0;
            const count = () => { if (++frames30 < 30) requestAnimationFrame(count); };
            requestAnimationFrame(count);""")
        wait(d, 'return frames30 >= 30')
        self.assertEqual(d.execute_script('return changes'), [])

    def test_master_plays_its_stereo(self):
        # With master ticked the page plays the 48 kHz stereo WAV as it is
        # written, as long as the plain render; then an edit unticked is
        # mono again.
        d = self.driver
        self.open()
        wait(d, "return document.getElementById('status').textContent == 'saved'")
        d.find_element('id', 'master').click()
        text = 't120 R4 4 o1 c d e f g f e d'
        self.type(text)
        seconds = rendered(text, '--master')
        channels = wait(d, f"return {A}.buffer && Math.abs({A}.duration - {seconds}) < 0.01 && {A}.buffer.numberOfChannels")
        self.assertEqual(channels, 2)
        peak = d.execute_script(f"return {A}.buffer.getChannelData(0).reduce((m, x) => Math.max(m, Math.abs(x)), 0)")
        self.assertTrue(0.05 < peak <= 1, peak)
        d.find_element('id', 'master').click()
        seconds = rendered(text)
        wait(d, f"return {A}.buffer.numberOfChannels == 1 && Math.abs({A}.duration - {seconds}) < 0.001")

    def test_change_on_disk_is_offered(self):
        d = self.driver
        with open(self.server.score, 'w') as f:
            f.write('c d e')
        self.open()
        wait(d, f"return {TEXT} == 'c d e'")
        with open(self.server.score, 'w') as f:
            f.write('( theirs ) g')
        wait(d, "return document.getElementById('changed')")
        self.type(' f')
        time.sleep(0.6)
        self.assertEqual(self.server.read_score(), b'( theirs ) g')
        d.find_element('xpath', "//div[@id='changed']//button[starts-with(., 'Load the file')]").click()
        wait(d, f"return {TEXT} == '( theirs ) g'")

    def test_a_utf16_score_stays_utf16(self):
        example = os.path.join(os.path.dirname(__file__), '..', '..', 'examples', 'utf16-ceske-posuvky.txt')
        with open(example, 'rb') as f:
            original = f.read()
        with open(self.server.score, 'wb') as f:
            f.write(original)
        self.open()
        wait(self.driver, "return document.getElementById('encoding').textContent.startsWith('UTF-16LE, CR LF')")
        self.driver.execute_script(TO_END)
        self.type('\nč')
        wait(self.driver, "return document.getElementById('status').textContent == 'saved'")
        self.assertEqual(self.server.read_score(), original + '\r\nč'.encode('utf-16le'))

    def test_a_byte_order_mark_and_each_lines_ending_are_kept(self):
        # UTF-8 with its mark, two lines ending CR LF and one LF: an edit at
        # the end leaves the mark and the three endings as they were, and
        # the new line takes the most common ending.
        original = '\ufeffc d\r\ne f\ng a\r\n'.encode('utf-8')
        with open(self.server.score, 'wb') as f:
            f.write(original)
        self.open()
        wait(self.driver, f"return {TEXT} == 'c d\\ne f\\ng a\\n'")
        self.driver.execute_script(TO_END)
        self.type('h\nc')
        deadline = time.time() + 10
        while self.server.read_score() != original + b'h\r\nc' and time.time() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.server.read_score(), original + b'h\r\nc')

    def test_a_lone_cr_and_a_tab_stay_in_their_line(self):
        # The editor breaks lines at LF alone: a CR without its LF is a
        # character of the line, and is saved as it was.
        original = b'c\rd\te\nf'
        with open(self.server.score, 'wb') as f:
            f.write(original)
        self.open()
        wait(self.driver, f"return {TEXT} == 'c\\rd\\te\\nf'")
        self.assertEqual(self.driver.execute_script("return document.querySelectorAll('#editor .cm-line').length"), 2)
        self.driver.execute_script(TO_END)
        self.type(' g')
        deadline = time.time() + 10
        while self.server.read_score() != original + b' g' and time.time() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.server.read_score(), original + b' g')

    def test_the_register_menu_inserts_at_the_caret(self):
        from selenium.webdriver.support.ui import Select
        with open(self.server.score, 'w') as f:
            f.write('c d')
        self.open()
        wait(self.driver, f"return {TEXT} == 'c d'")
        self.driver.execute_script('skladbaTest.select(1, 1)')
        Select(self.driver.find_element('id', 'register')).select_by_value('R2')
        self.saved('c R2 d')

    def test_utf16_is_told_by_the_engines_rule(self):
        # No byte-order mark, one ASCII letter, then letters whose high byte
        # is not zero: the engine reads it as UTF-16LE, and so must the page.
        score = 'c' + 'čěčěčěčěčěčěčěčě'
        with open(self.server.score, 'wb') as f:
            f.write(score.encode('utf-16le'))
        self.open()
        wait(self.driver, "return document.getElementById('encoding').textContent.startsWith('UTF-16LE')")
        self.assertEqual(self.driver.execute_script(f'return {TEXT}'), score)

    def test_typing_while_the_server_is_stopped(self):
        d = self.driver
        d.get(self.server.url)   # without &test: the page puts nothing on window
        wait(d, "return document.getElementById('status').textContent == 'saved'")
        self.assertEqual(d.execute_script("return typeof skladbaTest + typeof skladbaStats"), 'undefinedundefined')
        self.server.stop()
        self.type('c d')
        wait(d, "return document.getElementById('offline')")
        self.server.start(['--port', str(self.server.port)], token=self.server.token)
        self.saved('c d')


class Playing(unittest.TestCase):
    """The score in the editor: its colours and diagnostics, playing from
    it, and the render's downloads."""
    # 240 quarter notes a minute: a 4/4 bar is a second.
    SCORE = 't240 4 o1 c d e f | g a h o2 c | c o1 h a g'

    def setUp(self):
        self.driver = start_chromium()

    def tearDown(self):
        close_chromium(self.driver)
        self.server.close()

    def open(self, score):
        self.server = Server(SERVE, REGISTERS, score)
        self.driver.get(self.server.url + '&test')
        wait(self.driver, f'return {A}.duration > 0')

    def keys(self, *keys):
        self.driver.find_element('css selector', '#editor .cm-content').send_keys(*keys)

    def caret(self, text, at):
        self.driver.execute_script(f'skladbaTest.select({at}, {at})')

    def test_colours_and_a_diagnostic_with_its_fix(self):
        from selenium.webdriver.common.action_chains import ActionChains
        d = self.driver
        self.open('(title: Elegy) (Note: x) t100 c 4.. d')
        # A note and a command each in a colour of its own, told by the
        # engine's table (the page has no list of commands); a directive is
        # not a plain comment, and names the page.
        words = d.execute_script("""return Array.from(document.querySelectorAll('#editor .cm-line span'))
            .map(e => [e.textContent, e.className, getComputedStyle(e).color])""")
        kinds = {w[0]: w[1] for w in words}
        self.assertEqual((kinds['t'], kinds['100'], kinds['c'], kinds['4'], kinds['d']),
                         ('sk-command', 'sk-number', 'sk-note', 'sk-value', 'sk-note'))
        self.assertEqual((kinds['(title: Elegy)'], kinds['(Note: x)']), ('sk-directive', 'sk-comment'))
        self.assertEqual(wait(d, "return document.title.startsWith('Elegy') && document.title"), 'Elegy · skladba')
        plain = d.execute_script("return getComputedStyle(document.querySelector('#editor .cm-line')).color")
        colour = {w[1]: w[2] for w in words}
        self.assertEqual(len({plain, colour['sk-command'], colour['sk-note'], colour['sk-value']}), 4)
        # The warning is the editor's diagnostic at its place, and says its fix on hover.
        mark = wait(d, "return document.querySelector('#editor .cm-lintRange-warning')")
        self.assertEqual(mark.text, '..')   # from the dot the number took
        ActionChains(d).move_to_element(mark).perform()
        fix = wait(d, "const t = document.querySelector('.cm-tooltip-lint .sk-fix'); return t && t.textContent")
        self.assertEqual(fix, 'fix: write the dot after the note (4c.)')

    def test_from_the_cursor_its_bar_and_a_loop(self):
        from selenium.webdriver.common.keys import Keys
        d = self.driver
        self.open(self.SCORE)
        a = self.SCORE.index('a h')   # the second note of the second bar: 1.25 s
        self.caret(self.SCORE, a)
        self.keys(Keys.CONTROL, Keys.ENTER)
        t = wait(d, f'return !{A}.paused && {A}.currentTime')
        self.assertTrue(1.24 <= t < 1.5, t)
        self.keys(Keys.ALT, Keys.ENTER)   # its bar begins at 1 s
        t = wait(d, f'return !{A}.paused && {A}.currentTime < 1.2 && {A}.currentTime')
        self.assertTrue(0.99 <= t < 1.2, t)
        # A loop of the bars the selection touches: the second alone.
        d.execute_script(f'skladbaTest.select({a}, {a + 3})')
        self.keys(Keys.CONTROL, Keys.SHIFT, Keys.ENTER)
        d.execute_script(f"""window.heard = []; const a = {A};
            (function look() {{ heard.push(a.currentTime); if (heard.length < 1000) requestAnimationFrame(look); }})()""")
        time.sleep(2.5)
        heard = d.execute_script('return heard')
        self.assertTrue(all(0.95 <= x <= 2.15 for x in heard), (min(heard), max(heard)))
        self.assertTrue(any(later < earlier - 0.5 for earlier, later in zip(heard, heard[1:])), 'the loop never went back')
        self.assertIn('loop 0:01.0', d.find_element('id', 'loop').text)
        self.keys(Keys.ESCAPE)
        wait(d, f"return {A}.paused && document.getElementById('loop').textContent == ''")

    def test_on_a_bar_s_first_note_its_bar_plays(self):
        from selenium.webdriver.common.keys import Keys
        d = self.driver
        # At 100 a bar is 2.4 s, and its line and its first note start on the same sample.
        score = self.SCORE.replace('t240', 't100')
        self.open(score)
        self.caret(score, score.index('c o1 h'))   # the third bar: 4.8 s
        self.keys(Keys.CONTROL, Keys.ENTER)
        wait(d, f'return !{A}.paused && {A}.currentTime >= 4.8')
        self.caret(score, score.index('g a h'))   # the second bar's first note: 2.4 s
        self.keys(Keys.ALT, Keys.ENTER)
        t = wait(d, f'return !{A}.paused && {A}.currentTime < 4.5 && {A}.currentTime')
        self.assertTrue(2.39 <= t < 2.7, t)

    def test_downloads(self):
        d = self.driver
        self.open(self.SCORE)
        links = wait(d, """const l = Array.from(document.querySelectorAll('#downloads a[href]'));
            return l.length >= 4 && l.map(a => [a.getAttribute('download'), a.href])""")
        names = [n for n, _ in links]
        for name in ['piece.wav', 'piece.mid', 'piece.musicxml', 'piece.svg']:
            self.assertIn(name, names)
        # Each download is what its name says: the first bytes of each format.
        starts = {'wav': b'RIFF', 'mid': b'MThd', 'musicxml': b'<?xml', 'svg': b'<svg', 'flac': b'fLaC',
                  'ogg': b'OggS', 'opus': b'OggS', 'mp3': None}
        info = self.server.request('GET', '/api/info')[1].decode()
        for ext in ['flac', 'ogg', 'mp3', 'opus']:
            self.assertEqual('"ext":"%s"' % ext in info, 'piece.' + ext in names)
        for name, href in links:
            status, body = self.server.request('GET', href[href.index('/out/'):])
            self.assertEqual(status, 200, name)
            start = starts[name.rsplit('.', 1)[1]]
            if start:
                self.assertEqual(body[:len(start)], start, name)
            else:   # MP3: a tag, or the sync bits of a frame
                self.assertTrue(body[:3] == b'ID3' or (body[0] == 0xFF and body[1] & 0xE0 == 0xE0), name)


def screenshot(png, score):
    driver = start_chromium()
    with open(score, 'rb') as f:
        server = Server(SERVE, REGISTERS, f.read(), name=os.path.basename(score))
    try:
        driver.get(server.url + '&test')
        wait(driver, f'return {A}.duration > 0')
        # With the sheet music beside the text.
        driver.find_element('id', 'show-notation').click()
        wait(driver, 'return skladbaTest.sheet && skladbaTest.sheet.stats.length > 0', timeout=60)
        driver.execute_script(f'{A}.currentTime = 17.3; {A}.play()')
        time.sleep(1.2)
        driver.execute_script(f'{A}.pause()')
        time.sleep(0.3)
        driver.save_screenshot(png)
    finally:
        close_chromium(driver)
        server.close()


if __name__ == '__main__':
    require_chromium()
    if '--screenshot' in sys.argv:
        i = sys.argv.index('--screenshot')
        screenshot(sys.argv[i + 1], sys.argv[i + 2])
    else:
        unittest.main(argv=sys.argv[:1], verbosity=2)
