"""skladba serve through its real HTTP server, without a browser: the
refusals of its security rules, a save with its version check, and Ctrl-C.

usage: test_server.py SKLADBA SKLADBA_SERVE REGISTERS"""
import json
import os
import subprocess
import sys
import unittest

from harness import Server

SKLADBA, SERVE, REGISTERS = map(os.path.abspath, sys.argv[1:4])
SCORE = b't120 R4 4 o1 c d e f | 2g g |\n'


class Rules(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(SERVE, REGISTERS, SCORE)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def edit(self, body, headers=None, query='save=1&base=none'):
        h = {'X-Skladba': '1', 'Origin': 'http://' + self.server.host}
        h.update(headers or {})
        return self.server.request('POST', '/api/edit?' + query, body, h)

    def test_refusals(self):
        s = self.server
        ok, _ = s.request('GET', '/api/info')
        self.assertEqual(ok, 200)
        cases = [
            ('a foreign Host (DNS rebinding)', 'GET', '/api/score', None, {'Host': 'attacker.example:%d' % s.port}, 403, b'not to this server'),
            ('the right name on another port', 'GET', '/', None, {'Host': '127.0.0.1:1'}, 403, b'not to this server'),
            ('a foreign Origin', 'POST', '/api/edit?save=1', SCORE, {'X-Skladba': '1', 'Origin': 'http://attacker.example'}, 403, b'another site'),
            ('a cross-site fetch', 'GET', '/api/score', None, {'Sec-Fetch-Site': 'cross-site'}, 403, b'another site'),
            ('an edit without the page\'s header', 'POST', '/api/edit?save=1', SCORE, {}, 403, b'only the editor'),
            ('a path outside', 'GET', '/../CMakeLists.txt', None, {}, 404, b'nothing here'),
            ('an encoded path outside', 'GET', '/%2e%2e/%2e%2e/etc/passwd', None, {}, 404, b'nothing here'),
            ('a path beside the page', 'GET', '/skladba.js/../index.html', None, {}, 404, b'nothing here'),
            ('a path like the page\'s', 'GET', '/skladbaXjs', None, {}, 404, b'nothing here'),
            ('a render path outside', 'GET', '/out/../../etc/passwd', None, {}, 404, b'nothing here'),
            ('the score by its name', 'GET', '/piece.txt', None, {}, 404, b'nothing here'),
            ('an oversized body', 'POST', '/api/edit?save=1', b'c' * (1024 * 1024 + 1), {'X-Skladba': '1'}, 413, b'more than 1 MB'),
        ]
        for what, method, path, body, headers, status, message in cases:
            with self.subTest(what):
                got, text = s.request(method, path, body, headers)
                self.assertEqual(got, status, text)
                self.assertIn(message, text)
        self.assertEqual(s.read_score(), SCORE)

    def test_save_and_conflict(self):
        s = self.server
        status, body = s.request('GET', '/api/score')
        self.assertEqual((status, body), (200, SCORE))
        version = json.loads(s.request('GET', '/api/info')[1])['version']
        inode = os.stat(s.score).st_ino
        new = b't120 R4 4 o1 e d c d | 2e e |\n'
        answer = json.loads(self.edit(new, query='save=1&base=' + version)[1])
        self.assertTrue(answer['save']['saved'])
        self.assertTrue(answer['render']['ok'])
        self.assertEqual(s.read_score(), new)
        self.assertNotEqual(os.stat(s.score).st_ino, inode, 'saved by renaming a new file into place')
        self.assertEqual(sorted(os.listdir(s.folder)), ['piece.txt', 'tmp'])
        # Another program changes the file: an edit made from the old version is refused, not written.
        with open(s.score, 'wb') as f:
            f.write(b'( theirs )\n')
        answer = json.loads(self.edit(b'( mine )\n', query='save=1&base=' + answer['save']['version'])[1])
        self.assertTrue(answer['save']['conflict'])
        self.assertEqual(s.read_score(), b'( theirs )\n')

    def test_downloads(self):
        # Every file a render offers is served with its type, and the sheet
        # music holds the notes of the score, one <pitch> each.
        render = json.loads(self.edit(SCORE, query='save=0')[1])['render']
        self.assertTrue(render['ok'], render)
        kinds = {'wav': b'RIFF', 'midi': b'MThd', 'musicxml': b'<?xml', 'svg': b'<svg'}
        for kind, start in kinds.items():
            with self.subTest(kind):
                status, body = self.server.request('GET', render[kind])
                self.assertEqual(status, 200, body[:200])
                self.assertIn(start, body[:400])
        body = self.server.request('GET', render['musicxml'])[1]
        self.assertEqual(body.count(b'<pitch>'), render['notes'])
        self.assertIn(b'<score-partwise', body)


class Lifecycle(unittest.TestCase):
    def test_handover_and_ctrl_c(self):
        out = subprocess.run([SKLADBA, 'serve', '--help'], capture_output=True, text=True)
        self.assertEqual(out.returncode, 0)
        self.assertIn('usage: skladba serve', out.stdout)
        s = Server(SERVE, REGISTERS, SCORE)
        try:
            self.assertEqual(s.request('POST', '/api/edit', SCORE, {'X-Skladba': '1'})[0], 200)
            self.assertEqual(len(os.listdir(s.tmp)), 1, 'a scratch folder while it runs')
            second = subprocess.run([SERVE, s.score, '--registers', REGISTERS, '--port', str(s.port)],
                                    capture_output=True, text=True, timeout=30)
            self.assertEqual(second.returncode, 1, 'a port in use is not shared')
            self.assertIn('the port is taken', second.stderr)
            status, err = s.stop()
            self.assertEqual(status, 130, err)
            self.assertEqual(os.listdir(s.tmp), [], 'the scratch folder is removed')
            self.assertEqual(s.read_score(), SCORE)
        finally:
            s.close()


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)
