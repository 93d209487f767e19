"""skladba serve through its real HTTP server, without a browser: the
refusals of its security rules, its key, bodies and files that are not what
they claim, a save with its version check, and Ctrl-C at any moment.

usage: test_server.py SKLADBA SKLADBA_SERVE REGISTERS"""
import http.client
import itertools
import json
import os
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
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
            ('this machine\'s name without --host', 'GET', '/', None, {'Host': '%s:%d' % (socket.gethostname(), s.port)}, 403, b'not to this server'),
            ('no key', 'GET', '/', None, {'Cookie': None}, 403, b'key'),
            ('no key for a file of the page', 'GET', '/skladba.js', None, {'Cookie': None}, 403, b'key'),
            ('a wrong key', 'GET', '/api/score', None, {'Cookie': 'skladba-%d=%s' % (s.port, '0' * 32)}, 403, b'key'),
            ('the key of another port', 'GET', '/api/score', None, {'Cookie': 'skladba-1=' + s.token}, 403, b'key'),
            ('a wrong key in the address', 'GET', '/?token=' + '0' * 32, None, {'Cookie': None}, 403, b'key'),
            ('a render number past any', 'GET', '/out/99999999999999999999999.wav', None, {}, 404, b'nothing here'),
            ('a key wrong in its first byte', 'GET', '/api/score', None, {'Cookie': 'skladba-%d=%s' % (s.port, flip(s.token, 0))}, 403, b'key'),
            ('a key wrong in its last byte', 'GET', '/api/score', None, {'Cookie': 'skladba-%d=%s' % (s.port, flip(s.token, -1))}, 403, b'key'),
        ]
        for what, method, path, body, headers, status, message in cases:
            with self.subTest(what):
                got, text = s.request(method, path, body, headers)
                self.assertEqual(got, status, text)
                self.assertIn(message, text)
        self.assertEqual(s.read_score(), SCORE)

    def test_framing_that_could_be_read_two_ways_is_refused_at_once(self):
        s = self.server
        head = 'POST /api/edit?save=0 HTTP/1.1\r\nHost: %s\r\nCookie: %s\r\nX-Skladba: 1\r\n' % (s.host, s.cookie)
        cases = [('a negative length', head + 'Content-Length: -5\r\n\r\nc d', 400),
                 ('a length of 20 digits', head + 'Content-Length: %s\r\n\r\nc d' % ('9' * 20), 400),
                 ('a length of 19 digits', head + 'Content-Length: %s\r\n\r\nc d' % ('9' * 19), 400),
                 ('two lengths', head + 'Content-Length: 3\r\nContent-Length: 3\r\n\r\nc d', 400),
                 ('a length past 1 MB', head + 'Content-Length: %d\r\n\r\nc d' % ((1 << 20) + 1), 413),
                 ('two Host headers', 'GET /api/info HTTP/1.1\r\nHost: %s\r\nHost: attacker.example:%d\r\nCookie: %s\r\n\r\n'
                  % (s.host, s.port, s.cookie), 400)]
        for what, request, status in cases:
            with self.subTest(what):
                start = time.time()
                with socket.create_connection(('127.0.0.1', s.port), timeout=30) as c:
                    c.sendall(request.encode())
                    answer = c.recv(100)
                self.assertTrue(answer.startswith(b'HTTP/1.1 %d ' % status), answer)
                self.assertLess(time.time() - start, 5, 'answered at once, not at the deadline')
        # A length of exactly 1 MB is read.
        status, _ = self.edit(b'c' * (1 << 20), query='save=0&render=0')
        self.assertEqual(status, 200)

    def test_options_as_skladba_reads_them(self):
        info = json.loads(self.server.request('GET', '/api/info')[1])
        self.assertEqual(info['releaseRange'], [5, 10000], 'the page learns the range of --release')
        for args, message in [(['--release', '3'], "--release needs a whole number of milliseconds from 5 to 10000, not '3'"),
                              (['--release=10001'], "from 5 to 10000, not '10001'"),
                              (['--port='], "'--port'"), (['--bogus'], "unknown option '--bogus'"),
                              (['a.txt', 'b.txt'], "one score at a time ('a.txt', 'b.txt')"),
                              (['--host'], "'--host'")]:
            with self.subTest(args):
                out = subprocess.run([SERVE] + args, capture_output=True, text=True, timeout=30)
                self.assertEqual(out.returncode, 2, out.stderr)
                self.assertIn(message, out.stderr)

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

    def test_each_bar_line_is_where_its_first_note_starts(self):
        # Tempos whose bars are no whole number of milliseconds: a bar line
        # rounded past its note would make the page play from the bar before.
        for tempo in (97, 210):
            render = json.loads(self.edit(b't%d 4 o1 c d e f | g a h o2 c | c' % tempo, query='save=0')[1])['render']
            starts = sorted(n[0] / render['rate'] for n in render['noteList'])
            self.assertEqual(len(render['bars']), 3)
            for bar, start in zip(render['bars'][1:], (starts[4], starts[8])):
                self.assertAlmostEqual(bar, start, delta=1e-6, msg=tempo)

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
        # master=1: the WAV in 48 kHz stereo, 24 bits, and its FLAC the same.
        render = json.loads(self.edit(SCORE, query='save=0&master=1')[1])['render']
        self.assertTrue(render['ok'], render)
        wav = self.server.request('GET', render['wav'])[1]
        self.assertEqual((int.from_bytes(wav[22:24], 'little'), int.from_bytes(wav[24:28], 'little'), wav[34]),
                         (2, 48000, 24))
        status, flac = self.server.request('GET', render['wav'][:-4] + '.flac')
        self.assertEqual((status, flac[:4]), (200, b'fLaC'))
        # Its STREAMINFO's last 36 bits of bytes 18 to 25: the frames.
        self.assertEqual(len(wav) - 44, 6 * (int.from_bytes(flac[18:26], 'big') & ((1 << 36) - 1)))
        # The title: and composer: directives tag it, as they tag a render's FLAC.
        tagged = b'(title: Elegy)(composer: Jana Nova)' + SCORE
        render = json.loads(self.edit(tagged, query='save=0')[1])['render']
        flac = self.server.request('GET', render['wav'][:-4] + '.flac')[1]
        self.assertIn(b'title=elegy', flac[:4000].lower())
        self.assertIn(b'artist=jana nova', flac[:4000].lower())


    def test_an_edit_sends_only_the_samples_it_changed(self):
        # One letter changed at the end: the answer's patch holds the sums of
        # the stretch its note sounds in, which scaled by the peak are the
        # render's WAV there to the sample; before it the WAV is the last one's.
        score = b't120 R4 4 o1 ' + b'c d e f g f e d ' * 8 + b'| -8 o2 ' + b'e g ' * 8 + b'\n'
        first = json.loads(self.edit(score, query='save=0')[1])['render']
        old = self.server.request('GET', first['wav'])[1]
        second = json.loads(self.edit(score.replace(b'g \n', b'a \n'), query='save=0')[1])['render']
        patch = second['patch']
        self.assertFalse(patch['whole'])
        self.assertEqual(patch['base'], first['id'])
        self.assertGreater(patch['from'], 0)
        self.assertEqual(patch['to'], second['samples'])
        sums = self.server.request('GET', patch['sums'])[1]
        self.assertEqual(len(sums), 4 * (patch['to'] - patch['from']))
        wav = self.server.request('GET', second['wav'])[1]
        scale = 32752.0 / patch['peak']
        expected = [max(-32768, min(32767, int(x * scale))) for x in struct.unpack('<%di' % (len(sums) // 4), sums)]
        self.assertEqual(list(struct.unpack('<%dh' % len(expected), wav[44 + 2 * patch['from']:])), expected)
        if patch['peak'] == first['patch']['peak']:
            self.assertEqual(wav[:44 + 2 * patch['from']], old[:44 + 2 * patch['from']])

    def test_sums_come_in_the_edit_answer_when_asked(self):
        # sums=1: the JSON's length, the JSON padded to 4 bytes, then the
        # sums /out/N.sums would give; a whole render brings none after it.
        def unpack(body):
            n = struct.unpack('<I', body[:4])[0]
            self.assertEqual((4 + n) % 4, 0)
            return json.loads(body[4:4 + n])['render'], body[4 + n:]
        score = b't97 R4 4 o1 ' + b'c d e f ' * 8 + b'\n'
        first, rest = unpack(self.edit(score + b'o2 c\n', query='save=0&sums=1')[1])
        self.assertEqual(rest, b'')
        second, sums = unpack(self.edit(score + b'o2 d\n', query='save=0&sums=1')[1])
        self.assertFalse(second['patch']['whole'])
        self.assertEqual(second['patch']['base'], first['id'])
        self.assertEqual(len(sums), 4 * (second['patch']['to'] - second['patch']['from']))
        self.assertTrue(sums == self.server.request('GET', second['patch']['sums'])[1])

    def test_sums_come_in_as_few_bytes_as_hold_them(self):
        # sums=2: each sum in the low 2 bytes while every one fits in 16
        # bits, in 3 where nine voices on one note pass them. sums=3: each as
        # its difference from the one before, which stays within 2 bytes
        # there. Either way the same sums as /out/N.sums.
        for voices, sums, width in ((1, 2, 2), (9, 2, 3), (9, 3, 2)):
            score = b't120 R4 4 o1 c d e f 1 o1 c' + b' -1 c' * (voices - 1)
            self.edit(score + b' -1 c\n', query='save=0&sums=%d' % sums)
            body = self.edit(score + b' -1 d\n', query='save=0&sums=%d' % sums)[1]
            n = struct.unpack('<I', body[:4])[0]
            answer, rest = json.loads(body[4:4 + n]), body[4 + n:]
            patch = answer['render']['patch']
            self.assertFalse(patch['whole'])
            self.assertEqual((answer['width'], len(rest)), (width, width * (patch['to'] - patch['from'])))
            got = [int.from_bytes(rest[i:i + width], 'little', signed=True) for i in range(0, len(rest), width)]
            if sums == 3:
                self.assertEqual(got[0], 0)
                got = list(itertools.accumulate(got, lambda a, d: (a + d + 2**31) % 2**32 - 2**31, initial=answer['first']))[1:]
            full = self.server.request('GET', patch['sums'])[1]
            self.assertEqual(got, list(struct.unpack('<%di' % (len(full) // 4), full)))

    def test_a_note_list_the_page_holds_comes_as_its_changes(self):
        # notes=N: the page holds render N's list, the last the server sent:
        # only the notes between the head and the tail that stay come; a list
        # the page does not hold comes whole.
        score = b't120 R4 4 o1 c d e f g\n'
        def render(text, held):
            return json.loads(self.edit(text, query='save=0&notes=%d' % held)[1])['render']
        def patched(held, r):
            e = r['noteEdit']
            self.assertEqual(e['of'], held['id'])
            self.assertNotIn('noteList', r)
            return held['noteList'][:e['head']] + e['notes'] + held['noteList'][len(held['noteList']) - e['tail']:]
        first = render(score, 0)
        one = render(score.replace(b'e', b'a'), first['id'])
        self.assertEqual((one['noteEdit']['head'], one['noteEdit']['tail'], len(one['noteEdit']['notes'])), (2, 2, 1))
        one['noteList'] = patched(first, one)
        whole = render(score.replace(b'e', b'a'), 0)
        self.assertEqual(one['noteList'], whole['noteList'])
        stale = render(score, first['id'])
        self.assertEqual(stale['noteList'], first['noteList'])
        for name, text in (('a note more', score + b'c\n'), ('the same', score), ('none', b't120\n'),
                           ('a note at the start', score.replace(b'o1 ', b'o1 c '))):
            with self.subTest(name):
                r = render(text, stale['id'])
                self.assertEqual(patched(stale, r), render(text, 0)['noteList'])
                stale = render(text, 0)

    def test_the_older_of_two_patched_renders_keeps_its_wav(self):
        # The page may still play (or download) the render before the newest:
        # its WAV is made from what the newest replaced, the command line's
        # bytes, whether the newest changed a note, shortened the piece or
        # lengthened it.
        score = b't120 R4 4 o1 ' + b'c d e f g f e d ' * 6 + b'\n'
        for name, newer in (('a note', score.replace(b'g f e d \n', b'g f e c \n')),
                            ('shorter', score.replace(b'g f e d \n', b'g \n')),
                            ('longer', score.replace(b'g f e d \n', b'g f e d 1c \n'))):
            with self.subTest(name):
                older = json.loads(self.edit(score, query='save=0')[1])['render']
                newest = json.loads(self.edit(newer, query='save=0')[1])['render']
                self.assertIn('patch', newest)
                status, wav = self.server.request('GET', older['wav'])
                self.assertEqual(status, 200)
                self.assertTrue(wav == cli_wav(score), 'the older render\'s WAV is a whole render of its score')
                self.assertTrue(self.server.request('GET', newest['wav'])[1] == cli_wav(newer))


def flip(token, i):
    """The key with its byte at i changed."""
    chars = list(token)
    chars[i] = '0' if chars[i] != '0' else '1'
    return ''.join(chars)


def cli_wav(score):
    """The WAV the command line renders of score."""
    folder = tempfile.mkdtemp(prefix='skladba-serve-cli-')
    try:
        with open(os.path.join(folder, 'piece.txt'), 'wb') as f:
            f.write(score)
        subprocess.run([SKLADBA, '--registers', REGISTERS, '-q', 'piece.txt'], cwd=folder, check=True)
        with open(os.path.join(folder, 'piece.wav'), 'rb') as f:
            return f.read()
    finally:
        shutil.rmtree(folder)


def chunked(server, path, chunks, headers):
    """(status, body) of a POST whose body comes in chunks, with no length."""
    conn = http.client.HTTPConnection('127.0.0.1', server.port, timeout=30)
    conn.putrequest('POST', path, skip_host=True, skip_accept_encoding=True)
    for k, v in dict({'Host': server.host, 'Cookie': server.cookie, 'Transfer-Encoding': 'chunked'}, **headers).items():
        conn.putheader(k, v)
    conn.endheaders()
    try:
        for c in chunks:
            conn.send(b'%x\r\n%s\r\n' % (len(c), c))
        conn.send(b'0\r\n\r\n')
    except (BrokenPipeError, ConnectionResetError):
        pass   # refused before the end of the body
    r = conn.getresponse()
    answer = r.status, r.read()
    conn.close()
    return answer


class Adversaries(unittest.TestCase):
    def setUp(self):
        self.server = Server(SERVE, REGISTERS, SCORE)

    def tearDown(self):
        self.server.close()

    def test_the_key(self):
        s = self.server
        conn = http.client.HTTPConnection('127.0.0.1', s.port, timeout=30)
        conn.request('GET', '/?token=' + s.token, headers={'Host': s.host})
        r = conn.getresponse()
        self.assertEqual((r.status, r.read()[:15].lower()), (200, b'<!doctype html>'))
        conn.close()
        cookie = r.getheader('Set-Cookie')
        self.assertEqual(cookie, 'skladba-%d=%s; Path=/; HttpOnly; SameSite=Strict' % (s.port, s.token))
        self.assertEqual(s.request('GET', '/api/score', headers={'Cookie': 'other=1; ' + cookie.split(';')[0]}), (200, SCORE))

    def test_bodies_past_the_limit_in_chunks(self):
        s = self.server
        h = {'X-Skladba': '1'}
        status, body = chunked(s, '/api/edit?save=1&base=none', [b'c' * (1 << 20)] * 4, h)
        self.assertEqual(status, 413, body)
        self.assertIn(b'more than 1 MB', body)
        version = json.loads(s.request('GET', '/api/info')[1])['version']
        status, body = chunked(s, '/api/edit?render=0&save=1&base=' + version, [b't120 ', b'c d e\n'], h)
        self.assertEqual(status, 200, body)
        self.assertEqual(s.read_score(), b't120 c d e\n')

    def test_a_flood_of_refusals_prints_a_few_lines_and_a_count(self):
        s = self.server
        for _ in range(100):
            self.assertEqual(s.request('GET', '/api/score', headers={'Cookie': None})[0], 403)
        status, err = s.stop()
        self.assertEqual(status, 130, err)
        lines = err.count('skladba serve: refused ')
        self.assertGreaterEqual(lines, 20)
        self.assertLess(lines, 60, err)
        self.assertIn('the next are counted, not shown', err)

    def test_a_compressed_download_is_encoded_once_for_all_its_ranges(self):
        s = self.server
        if 'opus' not in [f['ext'] for f in json.loads(s.request('GET', '/api/info')[1])['formats']]:
            self.skipTest('this build writes no Opus')
        # Three minutes: its encoding takes a while (about 2 s on an idle machine).
        render = json.loads(s.request('POST', '/api/edit?save=0', b't120 ' + b'c e g e ' * 90, {'X-Skladba': '1'})[1])['render']
        opus = render['wav'].replace('.wav', '.opus')
        start = time.time()
        first = s.request('GET', opus, headers={'Range': 'bytes=0-99'})
        encoding = time.time() - start
        self.assertEqual((first[0], len(first[1])), (206, 100))
        start = time.time()
        ranges = [s.request('GET', opus, headers={'Range': 'bytes=%d-%d' % (i * 100, i * 100 + 99)}) for i in range(1, 7)]
        self.assertLess(time.time() - start, encoding, 'six more ranges take less than one encoding')
        whole = s.request('GET', opus)[1]
        self.assertEqual(whole[:700], first[1] + b''.join(body for _, body in ranges))

    def test_the_renders_kept_stay_within_mix_memory(self):
        s = self.server
        s.stop()
        s.start(['--mix-memory', '1'])
        def render(score):
            return json.loads(s.request('POST', '/api/edit?save=0', score, {'X-Skladba': '1'})[1])['render']['wav']
        # The page fetches each render's WAV as it comes; a render made from
        # the last one's mix makes its WAV then, and keeps it.
        a = render(b'c d e')
        self.assertEqual(s.request('GET', a)[0], 200)
        b = render(b'e d c')
        self.assertEqual(s.request('GET', a)[0], 200, 'two small renders fit 1 MiB together')
        # Half a minute is 1.3 MB of WAV: the older render goes, the newest stays.
        c = render(b't120 ' + b'c e g e ' * 15)
        self.assertEqual((s.request('GET', b)[0], s.request('GET', c)[0]), (404, 200))

    def test_files_made_for_patched_renders_count_against_mix_memory(self):
        s = self.server
        if 'flac' not in [f['ext'] for f in json.loads(s.request('GET', '/api/info')[1])['formats']]:
            self.skipTest('this build writes no FLAC')
        s.stop()
        s.start(['--mix-memory', '1'])
        def render(score):
            return json.loads(s.request('POST', '/api/edit?save=0&release=50', score, {'X-Skladba': '1'})[1])['render']
        # Nine seconds and a half: its sums and the stretch the edit replaced
        # fit 1 MiB, and each WAV is 420 kB.
        score = b't120 R4 8 o1 ' + b'c e g e ' * 9 + b'4 c'
        older = render(score)
        newest = render(score.replace(b'4 c', b'4 d'))
        self.assertFalse(newest['patch']['whole'])
        # Both WAVs, made on request, fit together...
        self.assertEqual([s.request('GET', r['wav'])[0] for r in (newest, older, newest, older)], [200] * 4)
        # ...and with the FLACs made of them (200 kB each) they pass the
        # budget: the older goes, the newest stays.
        self.assertEqual(s.request('GET', newest['wav'].replace('.wav', '.flac'))[0], 200)
        s.request('GET', older['wav'].replace('.wav', '.flac'))
        self.assertEqual((s.request('GET', older['wav'])[0], s.request('GET', newest['wav'])[0]), (404, 200))

    def test_slow_and_idle_clients_lock_no_one_out(self):
        s = self.server
        socks = []
        try:
            for i in range(60):   # more than the workers, fewer than one client may keep waiting
                c = socket.create_connection(('127.0.0.1', s.port))
                if i % 2:
                    c.send(b'GET /api/score HTTP/1.1\r\nHost: ')   # and a byte now and then, never the end
                socks.append(c)
            # And one with the key whose body never comes: a worker waits for it.
            c = socket.create_connection(('127.0.0.1', s.port))
            c.send(('POST /api/edit HTTP/1.1\r\nHost: %s\r\nCookie: %s\r\nX-Skladba: 1\r\nContent-Length: 1000\r\n\r\nt120'
                    % (s.host, s.cookie)).encode())
            socks.append(c)
            for _ in range(3):
                start = time.time()
                self.assertEqual(s.request('GET', '/api/score'), (200, SCORE))
                # Well under the 5 s an idle connection is kept: the page
                # never waits for another client to be dropped, however
                # loaded the machine (a sanitizer build) is.
                self.assertLess(time.time() - start, 4)
                for c in socks[1:-1:2]:
                    c.send(b'x')
                time.sleep(0.5)
            start = time.time()
            self.assertEqual(s.stop()[0], 130)
            self.assertLess(time.time() - start, 10, 'Ctrl-C waits for no client (a request may take 20 s)')
        finally:
            for c in socks:
                c.close()

    def test_a_private_score_stays_private(self):
        s = self.server
        os.chmod(s.score, 0o600)
        version = json.loads(s.request('GET', '/api/info')[1])['version']
        json.loads(s.request('POST', '/api/edit?save=1&base=' + version, b'c d\n', {'X-Skladba': '1'})[1])
        self.assertEqual(stat.S_IMODE(os.stat(s.score).st_mode), 0o600)
        # The renders and their scores in the scratch folder: the owner's only.
        [scratch] = os.listdir(s.tmp)
        modes = {n: stat.S_IMODE(os.stat(os.path.join(s.tmp, scratch, n)).st_mode) for n in os.listdir(os.path.join(s.tmp, scratch))}
        self.assertTrue(modes, 'the render left its files')
        self.assertEqual(set(modes.values()), {0o600}, modes)

    def test_what_replaces_the_score_is_not_served(self):
        s = self.server
        secret = os.path.join(s.folder, 'secret')
        with open(secret, 'wb') as f:
            f.write(b'the secret\n')
        new = os.path.join(s.folder, 'new')
        replacements = [('a link to another file', lambda: os.symlink(secret, new)),
                        ('a link to /dev/zero', lambda: os.symlink('/dev/zero', new)),
                        ('a named pipe', lambda: os.mkfifo(new)),
                        ('a file past 1 MB', lambda: open(new, 'wb').close() or os.truncate(new, 1 << 21))]
        for what, make in replacements:
            with self.subTest(what):
                make()
                os.replace(new, s.score)
                start = time.time()
                status, body = s.request('GET', '/api/score')
                self.assertLess(time.time() - start, 5)
                self.assertEqual(status, 409, body)
                self.assertNotIn(b'secret', body)
                self.assertLess(len(body), 1000)
                self.assertTrue(json.loads(s.request('GET', '/api/info')[1])['version'].startswith('unreadable'))
        status, err = s.stop()
        self.assertEqual(status, 130, err)


class Lifecycle(unittest.TestCase):
    def test_host_guard_with_host(self):
        s = Server(SERVE, REGISTERS, SCORE, args=['--host', '127.0.0.1'])
        try:
            for host, status in [('%s:%d' % (socket.gethostname(), s.port), 200), ('10.1.2.3:%d' % s.port, 200),
                                 ('[::1]:%d' % s.port, 200), ('attacker.example:%d' % s.port, 403)]:
                with self.subTest(host):
                    self.assertEqual(s.request('GET', '/api/info', headers={'Host': host})[0], status)
        finally:
            s.close()

    def test_a_stop_at_any_moment_of_the_start(self):
        s = Server(SERVE, REGISTERS, SCORE)
        s.stop()
        os.mkdir(os.path.join(s.tmp, 'skladba-serve-killed'))   # left by a server killed before its lock
        os.utime(os.path.join(s.tmp, 'skladba-serve-killed'), (0, 0))
        try:
            for i, sig in enumerate([signal.SIGINT, signal.SIGTERM] * 5):
                p = subprocess.Popen(s.command, cwd=s.folder, env=dict(os.environ, TMPDIR=s.tmp),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                time.sleep(0.003 * i)
                p.send_signal(sig)
                p.communicate(timeout=20)
                self.assertIn(p.returncode, (128 + sig, -sig))
            # A slow start (a sanitizer build) may be stopped before it gets
            # to the stale folder, but never leaves a scratch folder of its own.
            left = os.listdir(s.tmp)
            self.assertIn(left, ([], ['skladba-serve-killed']), 'every scratch folder of a stopped server is removed')
            # The next server that starts clears the stale one.
            s.start()
            s.stop()
            self.assertEqual(os.listdir(s.tmp), [], 'every scratch folder is removed')
        finally:
            s.close()


    def test_open_hands_the_key_to_the_browser_in_a_private_file(self):
        # A stand-in for xdg-open that records its arguments and the file it was given.
        bin = tempfile.mkdtemp(prefix='skladba-xdg-')
        with open(os.path.join(bin, 'xdg-open'), 'w') as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" > %s/args\np="${1#file://}"\n'
                    'stat -c %%a "$p" > %s/mode\ncp "$p" %s/page\n' % (bin, bin, bin))
        os.chmod(os.path.join(bin, 'xdg-open'), 0o755)
        s = Server(SERVE, REGISTERS, SCORE, args=['--open'], env={'PATH': bin + ':' + os.environ['PATH']})
        try:
            page = os.path.join(bin, 'page')
            end = time.time() + 30
            while not os.path.exists(page) and time.time() < end:
                time.sleep(0.05)
            with open(os.path.join(bin, 'args')) as f:
                args = f.read()
            self.assertNotIn(s.token, args)
            self.assertTrue(args.startswith('file://' + s.tmp), args)
            with open(os.path.join(bin, 'mode')) as f:
                self.assertEqual(f.read().strip(), '600')
            with open(page) as f:
                self.assertIn('url=' + s.url.replace('&', '&amp;') + '"', f.read())
            status, err = s.stop()
            self.assertEqual(err.count(s.token), 0, 'the key is printed once, on standard output')
        finally:
            s.close()
            shutil.rmtree(bin, ignore_errors=True)

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
