"""skladba serve's music beside the sound: the voices of a render with their
colours, mute and solo, bar lines and beats, and the sheet music drawn in
the page from the render's MusicXML, with click-to-source and the note
playing lit. The server's answers are tested without a browser; the page in
headless Chromium (skipped, status 77, without chromium, chromium-driver and
python3-selenium).

usage: test_notation.py SKLADBA SKLADBA_SERVE REGISTERS"""
import json
import os
import struct
import sys
import unittest

from harness import Server, close_chromium, require_chromium, start_chromium, wait

SKLADBA, SERVE, REGISTERS = map(os.path.abspath, sys.argv[1:4])
HERE = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(HERE, '..', 'kusy', 'choral.txt'), 'rb') as f:
    CHORALE = f.read()


def samples(wav):
    return struct.unpack('<%dh' % ((len(wav) - 44) // 2), wav[44:44 + (len(wav) - 44) // 2 * 2])


class Voices(unittest.TestCase):
    """The render's answer: voices, bars, and WAVs without some of them."""

    @classmethod
    def setUpClass(cls):
        cls.server = Server(SERVE, REGISTERS, CHORALE)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def render(self, query=''):
        status, body = self.server.request('POST', '/api/edit?save=0&' + query, CHORALE, {'X-Skladba': '1'})
        self.assertEqual(status, 200, body)
        r = json.loads(body)['render']
        self.assertTrue(r['ok'], r)
        status, wav = self.server.request('GET', r['wav'])
        self.assertEqual(status, 200)
        return r, samples(wav)

    def test_voices_bars_and_notes_of_the_model(self):
        r, _ = self.render()
        self.assertEqual([v['voice'] for v in r['voices']], [1, 2, 3, 4])
        # Soprano above alto above tenor above bass; all on R4.
        for upper, lower in zip(r['voices'], r['voices'][1:]):
            self.assertGreaterEqual(upper['lowKey'], lower['highKey'])
        self.assertEqual({tuple(v['registers']) for v in r['voices']}, {('R4',)})
        self.assertEqual(sum(v['notes'] for v in r['voices']), len(r['noteList']))
        self.assertEqual(r['voices'][0]['low'], 'o1 f')
        # Every note has its voice and its written start; the soprano's first
        # two are half notes at 0 and 1/2 of a whole note.
        soprano = sorted(n[6] for n in r['noteList'] if n[5] == 1)
        self.assertEqual(soprano[:2], [0, 0.5])
        self.assertTrue(all(1 <= n[5] <= 4 for n in r['noteList']))
        # 25 bars of 4/4 at 96 and 80 to the minute: where each starts, the
        # end, and three beats inside each.
        self.assertEqual(r['meter'], [4, 4])
        self.assertEqual(len(r['bars']), 26)
        self.assertAlmostEqual(r['bars'][1], 2.5, delta=0.01)   # 4 quarters at 96
        self.assertEqual(len(r['beats']), 3 * 25)
        self.assertEqual(r['bars'], sorted(r['bars']))
        self.assertEqual(r['silent'], [])

    def test_mute_and_solo(self):
        full, whole = self.render()
        muted, without = self.render('mute=2')
        self.assertEqual(muted['silent'], [2])
        self.assertEqual(len(without), len(whole))
        self.assertNotEqual(without, whole)
        # The notes and the sheet music stay those of the whole score.
        self.assertEqual(muted['noteList'], full['noteList'])
        solo, alone = self.render('solo=2')
        self.assertEqual(solo['silent'], [1, 3, 4])
        # At the full score's level the two halves add up to the whole.
        self.assertLessEqual(max(abs(a + b - c) for a, b, c in zip(without, alone, whole)), 1)
        # A master render between them leaves that level as it was.
        self.render('master=1')
        self.assertEqual(self.render('mute=2')[1], without)
        # Muting every voice leaves silence of the same length.
        _, none = self.render('mute=1,2,3,4')
        self.assertEqual(len(none), len(whole))
        self.assertFalse(any(none))
        # A solo of a voice also muted: the mute wins.
        both, quiet = self.render('mute=3&solo=3')
        self.assertEqual(both['silent'], [1, 2, 3, 4])
        self.assertFalse(any(quiet))

    def test_mute_and_solo_with_master_keep_the_full_scores_level(self):
        # With master on, the voices left sound at the full score's gain:
        # a solo is quieter than the whole, and what a mute leaves and the
        # solo of the voice it muted add up to the whole (but where the
        # limiter held the whole's peaks down).
        def stereo(query):
            status, body = self.server.request('POST', '/api/edit?save=0&master=1&' + query, CHORALE, {'X-Skladba': '1'})
            self.assertEqual(status, 200, body)
            r = json.loads(body)['render']
            self.assertTrue(r['ok'], r)
            wav = self.server.request('GET', r['wav'])[1]
            self.assertEqual(wav[34], 24)
            data = wav[44:]
            return [int.from_bytes(data[i:i + 3], 'little', signed=True) for i in range(0, len(data) - 2, 3)]
        whole = stereo('')
        without = stereo('mute=2')
        alone = stereo('solo=2')
        self.assertEqual((len(without), len(alone)), (len(whole), len(whole)))
        energy = lambda xs: sum(x * x for x in xs)
        self.assertLess(energy(alone), energy(whole) / 2)
        rest = energy(a + b - c for a, b, c in zip(without, alone, whole))
        self.assertLess(rest, energy(whole) / 200)

    def test_bad_voice_numbers_are_refused(self):
        for query in ['mute=0', 'mute=x', 'solo=1,,2', 'mute=-1', 'solo=1234567']:
            status, body = self.server.request('POST', '/api/edit?save=0&' + query, CHORALE, {'X-Skladba': '1'})
            self.assertEqual(status, 400, query)
            self.assertIn(b'voice numbers', body)


T = 'skladbaTest'
# The render shown, and the sheet music of that render once it is drawn.
SHOWN = f'{T}.state.render'
DRAWN = f'{T}.sheet && {T}.sheet.counts() && {SHOWN} && {T}.sheet.counts().id == {SHOWN}.id && {T}.sheet.counts()'


class Page(unittest.TestCase):
    """The page in headless Chromium, on the chorale with its sheet music shown."""

    @classmethod
    def setUpClass(cls):
        try:
            require_chromium()
        except SystemExit:
            raise unittest.SkipTest('no headless Chromium')
        cls.server = Server(SERVE, REGISTERS, CHORALE)
        _, body = cls.server.request('POST', '/api/edit?save=0', CHORALE, {'X-Skladba': '1'})
        cls.render = json.loads(body)['render']

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def setUp(self):
        self.driver = start_chromium()
        d = self.driver
        d.get(self.server.url + '&test')
        wait(d, f"return window.{T} && {SHOWN}")
        # What the page fetched before its sheet music is shown.
        self.first = d.execute_script("return performance.getEntriesByType('resource')"
                                      ".map((e) => [e.name, e.encodedBodySize])")
        d.find_element('id', 'show-notation').click()
        self.counts = wait(d, f'return {DRAWN}', timeout=60)

    def tearDown(self):
        close_chromium(self.driver)

    def test_the_engraver_is_fetched_only_when_the_sheet_music_is_shown(self):
        scripts = lambda entries: [n for n, _ in entries if '/js/' in n]
        later = self.driver.execute_script("return performance.getEntriesByType('resource')"
                                           ".map((e) => [e.name, e.encodedBodySize])")
        engraver = set(scripts(later)) - set(scripts(self.first))
        self.assertTrue(engraver)
        self.assertGreater(sum(size for n, size in later if n in engraver), 1_000_000)
        # Everything the first load fetched, well under 5 MB.
        self.assertLess(sum(size for _, size in self.first), 5_000_000)

    def test_the_sheet_music_draws_every_note_of_the_score_once(self):
        notes = len(self.render['noteList'])
        self.assertEqual(notes, 196)
        self.assertEqual(self.counts['drawn'], notes)
        self.assertEqual(self.counts['matched'], notes)
        # Each drawn note of the engraver stands for one note of the score.
        pitches = self.driver.execute_script(f'''const s = {T}.sheet.shown;
            return s.elements.map((els, i) => els.length && {SHOWN}.notes[i][2]);''')
        self.assertTrue(all(pitches))

    def test_a_click_on_a_note_finds_it_in_the_text(self):
        d = self.driver
        # The tenor's first B flat: om<h, the third note of phrase 1's tenor line.
        text = CHORALE.decode('cp1250')
        at = text.index('om<h')
        i = next(k for k, n in enumerate(self.render['noteList']) if n[3] <= at + 3 < n[4])
        head = d.execute_script(f"const g = {T}.sheet.shown.elements[{i}][0];"
                                "g.scrollIntoView({block: 'center'}); return g.querySelector('.vf-notehead path')")
        head.click()
        selection = wait(d, f'const s = {T}.selection(); return s[1] > s[0] && s')
        self.assertEqual(text[selection[0]:selection[1]], text[self.render['noteList'][i][3]:self.render['noteList'][i][4]])
        self.assertIn('<h', text[selection[0] - 2:selection[1]])
        start = self.render['noteList'][i][0] / self.render['rate']
        self.assertAlmostEqual(d.execute_script(f'return {T}.state.audio.currentTime'), start, delta=0.01)

    def test_one_colour_per_voice_everywhere(self):
        d = self.driver
        wait(d, f'return {T}.state.roll && {T}.state.roll.rects.length')
        colours = d.execute_script(f'''
            const norm = (c) => {{ const e = document.createElement('i'); e.style.color = c; document.body.appendChild(e);
              const v = getComputedStyle(e).color; e.remove(); return v; }};
            const r = {SHOWN}, out = {{}};
            const add = (where, voice, c) => {{ (out[voice] = out[voice] || {{}})[where] = (out[voice][where] || new Set()).add(norm(c)); }};
            r.notes.forEach((n, i) => {{
              add('roll', n[5], {T}.state.roll.rects[i].style.fill);
              for (const el of {T}.sheet.shown.elements[i]) add('sheet', n[5], el.style.getPropertyValue('--voice'));
            }});
            for (const li of document.querySelectorAll('#voices li.voice'))
              add('panel', +li.dataset.voice, getComputedStyle(li.querySelector('.swatch')).backgroundColor);
            for (const m of document.querySelectorAll('.cm-voice-marks i')) add('gutter', +m.dataset.voice, m.style.background);
            for (const v in out) for (const w in out[v]) out[v][w] = [...out[v][w]];
            return out;''')
        self.assertEqual(sorted(colours), ['1', '2', '3', '4'])
        seen = set()
        for voice, places in colours.items():
            self.assertEqual(sorted(places), ['gutter', 'panel', 'roll', 'sheet'], voice)
            one = {c for cs in places.values() for c in cs}
            self.assertEqual(len(one), 1, (voice, places))
            seen |= one
        self.assertEqual(len(seen), 4)

    def test_mute_and_solo_change_what_is_heard(self):
        d = self.driver
        first = d.execute_script(f'return {SHOWN}.id')
        d.find_element('css selector', '#voices li[data-voice="2"] button[title^="Mute"]').click()
        muted = wait(d, f'return {SHOWN}.id > {first} && {SHOWN}')
        self.assertEqual(muted['silent'], [2])
        self.assertIn('silent', d.find_element('css selector', '#voices li[data-voice="2"]').get_attribute('class'))
        wait(d, f"return {T}.state.audio.src.endsWith('/out/' + {SHOWN}.id + '.wav')")
        _, wav = self.server.request('GET', '/out/%d.wav' % muted['id'])
        _, full = self.server.request('GET', '/out/%d.wav' % first)
        self.assertEqual(len(wav), len(full))
        self.assertNotEqual(wav, full)
        # Solo of voice 1: only it sounds; the sheet music still holds all four.
        d.find_element('css selector', '#voices li[data-voice="1"] button[title^="Solo"]').click()
        solo = wait(d, f'return {SHOWN}.id > {muted["id"]} && {SHOWN}')
        self.assertEqual(solo['silent'], [2, 3, 4])
        self.assertEqual(wait(d, f'return {DRAWN}', timeout=60)['matched'], 196)

    def test_the_note_playing_is_lit(self):
        d = self.driver
        d.execute_script(f'{T}.state.audio.currentTime = 3; {T}.state.audio.play()')
        lit = wait(d, "return document.querySelectorAll('#notation .playing').length")
        self.assertGreaterEqual(lit, 1)
        d.execute_script(f'{T}.state.audio.pause()')


class Engraving(unittest.TestCase):
    """The page's engraver draws the beams and the tuplet brackets the
    MusicXML writes: a 6/8 bar of eighths beamed 3+3, a triplet."""

    def test_beams_and_tuplet_brackets_are_drawn(self):
        try:
            require_chromium()
        except SystemExit:
            raise unittest.SkipTest('no headless Chromium')
        score = b'(time: 6/8) t84 S0 R4 8 o1 a | 8 o2 d >c d e >f g | 12 a g >f 8 e 4 d 8 p | 2 d. |'
        server = Server(SERVE, REGISTERS, score)
        d = start_chromium()
        try:
            d.get(server.url + '&test')
            wait(d, f"return window.{T} && {SHOWN}")
            d.find_element('id', 'show-notation').click()
            wait(d, f'return {DRAWN}', timeout=60)
            beams = d.execute_script("return document.querySelectorAll('#notation .vf-beam').length")
            tuplets = d.execute_script(f'''let n = 0;
                for (const row of {T}.sheet.osmd.GraphicSheet.MeasureList)
                  for (const m of row) if (m && m.vftuplets) for (const k in m.vftuplets) n += m.vftuplets[k].length;
                return n;''')
            self.assertEqual((beams, tuplets), (3, 1))
        finally:
            close_chromium(d)
            server.close()


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)
