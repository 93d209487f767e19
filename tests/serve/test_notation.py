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
import xml.etree.ElementTree as ET

from harness import Server, close_chromium, require_chromium, start_chromium, wait

SKLADBA, SERVE, REGISTERS = map(os.path.abspath, sys.argv[1:4])
HERE = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(HERE, '..', 'kusy', 'choral.txt'), 'rb') as f:
    CHORALE = f.read()


def samples(wav):
    return struct.unpack('<%dh' % ((len(wav) - 44) // 2), wav[44:44 + (len(wav) - 44) // 2 * 2])


def skip_without_chromium():
    try:
        require_chromium()
    except SystemExit:
        raise unittest.SkipTest('no headless Chromium')


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
        skip_without_chromium()
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
        skip_without_chromium()
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
                for (const osmd of {T}.sheet.engravers())
                  for (const row of osmd.GraphicSheet.MeasureList)
                    for (const m of row) if (m && m.vftuplets) for (const k in m.vftuplets) n += m.vftuplets[k].length;
                return n;''')
            self.assertEqual((beams, tuplets), (3, 1))
        finally:
            close_chromium(d)
            server.close()


with open(os.path.join(HERE, '..', '..', 'examples', 'barkarola.txt'), 'rb') as f:
    BARCAROLLE = f.read()
# Twelve bars of 4/4 in C, D major from bar 5 and 3/4 from bar 9: stretches
# of four measures start where the key and the metre change.
CHANGES = (b'(time: 4/4) (key: C major)\nt120 S0 R4\n'
           b'4 o1 c d e f | g a h o2 c | o1 c d e f | g a h o2 c |\n'
           b'(key: D major) 4 o1 d e >f g | a h o2 >c d | o1 d e >f g | a h o2 >c d |\n'
           b'(time: 3/4) 4 o1 d e >f | g a h | o2 >c d e | 2 d. |\n')


def stretch_xml(d, i):
    return ET.fromstring(d.execute_script(f'return {T}.sheet.slots[{i}].xml').split('?>', 1)[1].split('>', 1)[1])


class Stretches(unittest.TestCase):
    """The sheet music drawn as stretches of four measures, each engraved
    alone with the attributes in force where it starts; an edit engraves
    again only the stretch it changed."""

    @classmethod
    def setUpClass(cls):
        skip_without_chromium()

    def open(self, score):
        server = Server(SERVE, REGISTERS, score)
        self.addCleanup(server.close)
        d = start_chromium()
        self.addCleanup(close_chromium, d)
        d.get(server.url + '&test')
        wait(d, f"return window.{T} && {SHOWN}")
        d.find_element('id', 'show-notation').click()
        counts = wait(d, f'return {DRAWN}', timeout=60)
        return server, d, counts

    def render(self, server, score):
        _, body = server.request('POST', '/api/edit?save=0', score, {'X-Skladba': '1'})
        return json.loads(body)['render']

    def measures(self, d):
        """Each stretch's parts, each a list of its measures' numbers."""
        out = []
        for i in range(d.execute_script(f'return {T}.sheet.slots.length')):
            x = stretch_xml(d, i)
            out.append([[m.get('number') for m in part.findall('measure')] for part in x.findall('part')])
        return out

    def test_a_pickup_and_two_parts_cut_into_stretches(self):
        server, d, counts = self.open(BARCAROLLE)
        render = self.render(server, BARCAROLLE)
        # Every note drawn once and found, across the stretches' bounds.
        self.assertEqual((counts['drawn'], counts['matched']), (len(render['noteList']),) * 2)
        _, whole = server.request('GET', render['musicxml'])
        numbers = [m.get('number') for m in ET.fromstring(whole.split(b'?>', 1)[1].split(b'>', 1)[1])
                   .find('part').findall('measure')]
        stretches = self.measures(d)
        # The pickup, measure 0, goes with the first four; then fours, the
        # last stretch ending with the last measure; both parts alike.
        self.assertEqual(stretches[0][0], numbers[:5])
        for s in stretches:
            self.assertEqual(len(s), 2)
            self.assertEqual(s[0], s[1])
            self.assertLessEqual(len(s[0]), 4 if s is not stretches[0] else 5)
        self.assertEqual([n for s in stretches for n in s[0]], numbers)
        # A later stretch opens both parts with the key, the metre (in force,
        # not shown again) and the clef; the first keeps the pickup.
        second = stretch_xml(d, 1)
        for part in second.findall('part'):
            a = part.find('measure').find('attributes')
            self.assertEqual(a.findtext('divisions'), stretch_xml(d, 0).find('part').find('measure').find('attributes').findtext('divisions'))
            self.assertEqual(a.findtext('key/fifths'), '2')
            self.assertEqual((a.find('time').get('print-object'), a.findtext('time/beats')), ('no', '6'))
            self.assertEqual(len(a.findall('clef')), 1)
        self.assertEqual(stretch_xml(d, 0).find('part').find('measure').get('implicit'), 'yes')
        # Each engraver numbers its measures as the whole score does.
        shown = d.execute_script(f'return {T}.sheet.engravers().map((o) => o.Sheet.SourceMeasures[0].MeasureNumberXML)')
        self.assertEqual([str(n) for n in shown], [s[0][0] for s in stretches])

    def test_a_key_and_a_metre_changing_where_a_stretch_starts(self):
        _, d, counts = self.open(CHANGES)
        self.assertEqual(self.measures(d), [[['1', '2', '3', '4']], [['5', '6', '7', '8']], [['9', '10', '11', '12']]])
        keys = [stretch_xml(d, i).find('part').find('measure').findall('attributes/key/fifths') for i in range(3)]
        self.assertEqual([[k.text for k in ks] for ks in keys], [['0'], ['2'], ['2']])
        times = [stretch_xml(d, i).find('part').find('measure').find('attributes/time') for i in range(3)]
        self.assertEqual([(t.get('print-object'), t.findtext('beats')) for t in times],
                         [(None, '4'), ('no', '4'), (None, '3')])
        self.assertEqual((counts['drawn'], counts['matched']), (42, 42))

    def test_a_tie_from_one_stretch_into_the_next(self):
        # The c of bar 4 held into bar 5, where the second stretch begins.
        score = b'(time: 4/4) (key: C major)\nt120 S0 R4\n4 o1 c d e f g a h o2 c o1 c d e f g a h 2 o2 c 4 o1 d e f 1 g\n'
        _, d, counts = self.open(score)
        self.assertEqual((counts['drawn'], counts['matched']), (20, 20))
        # The tied note is drawn in both stretches, and its tie is drawn
        # half at the end of the first, half at the start of the second.
        halves = d.execute_script(f'''const s = {T}.sheet;
            const tied = s.shown.elements.find((els) => els.length == 2);
            return [tied && tied.map((el) => s.slots.findIndex((x) => x.box.contains(el))),
                    s.slots.map((x) => x.box.querySelectorAll('path.tie-across').length)];''')
        self.assertEqual(halves, [[0, 1], [1, 1]])

    def test_an_edit_engraves_only_its_stretch(self):
        server, d, _ = self.open(CHANGES)
        first = d.execute_script(f'return {SHOWN}.id')
        # The first note of bar 10 (g in "| g a h |"), made an e.
        text = d.execute_script(f'return {T}.text()')
        at = text.index('| g a h |') + 2
        d.execute_script(f'{T}.select({at}, {at + 1})')
        d.switch_to.active_element.send_keys('e')
        wait(d, f'return {SHOWN}.id > {first} && {DRAWN}', timeout=60)
        last = d.execute_script(f'return {T}.sheet.stats[{T}.sheet.stats.length - 1]')
        self.assertEqual(last['engraved'], [2])
        # The edited note is drawn in its stretch at its new pitch, an E
        # where a G was, and found.
        before = self.render(server, CHANGES)['noteList']
        after = self.render(server, text[:at].encode() + b'e' + text[at + 1:].encode())['noteList']
        i = next(k for k, n in enumerate(after) if n[3] == at)
        self.assertEqual(after[i][2], before[i][2] - 3)
        drawn = d.execute_script(f'''const s = {T}.sheet, els = s.shown.elements[{i}];
            return [els.length, s.slots[2].notes.filter((n) => n.element === els[0]).map((n) => n.key)];''')
        self.assertEqual(drawn, [1, [after[i][2] + 36]])


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)
