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

from harness import Server

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
        # 25 bars of 4/4 at 96 and 80 to the minute: a bar line after each,
        # three beats inside each.
        self.assertEqual(r['meter'], [4, 4])
        self.assertEqual(len(r['bars']), 25)
        self.assertAlmostEqual(r['bars'][0], 2.5, delta=0.01)   # 4 quarters at 96
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
        # Muting every voice leaves silence of the same length.
        _, none = self.render('mute=1,2,3,4')
        self.assertEqual(len(none), len(whole))
        self.assertFalse(any(none))
        # A solo of a voice also muted: the mute wins.
        both, quiet = self.render('mute=3&solo=3')
        self.assertEqual(both['silent'], [1, 2, 3, 4])
        self.assertFalse(any(quiet))

    def test_bad_voice_numbers_are_refused(self):
        for query in ['mute=0', 'mute=x', 'solo=1,,2', 'mute=-1', 'solo=1234567']:
            status, body = self.server.request('POST', '/api/edit?save=0&' + query, CHORALE, {'X-Skladba': '1'})
            self.assertEqual(status, 400, query)
            self.assertIn(b'voice numbers', body)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)
