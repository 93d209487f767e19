"""skladba lsp through its real program with a small client: framing, the
check's diagnostics at their places in both position encodings, quick
fixes, hover, octave hints, colours, completion, outline, the commands,
and the messages a server must refuse or survive.

usage: test_lsp.py SKLADBA REGISTERS"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from klient import Klient, at, span, DEADLINE

SKLADBA, REGISTERS = map(os.path.abspath, sys.argv[1:3])
LIMIT = 16 << 20

# A comment of a four-byte and a two-byte character before a warning on the
# same line: UTF-16 and UTF-8 count it differently, --check in bytes.
SCORE = ('(title: Test piece)\n'
         '( Verse )\n'
         '(part: Violin I)\n'
         't90 s80 o1 4c. 8d 4e fis | g a r2. 2g |\n'
         '( \U0001D11E \u010das ) fis\n'
         '( Refrain )\n'
         '4c d -2 e f\n')


def tokens(data, legend, text):
    """(text, type) of every semantic token, decoded from UTF-16 places."""
    lines = text.split('\n')
    out, line, col = [], 0, 0
    for i in range(0, len(data), 5):
        dl, dc, n, t, _ = data[i:i + 5]
        line += dl
        col = col + dc if dl == 0 else dc
        units = lines[line].encode('utf-16-le')
        out.append((units[2 * col:2 * (col + n)].decode('utf-16-le'), legend[t]))
    return out


class Server(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='skladba-lsp-test-')
        self.path = os.path.join(self.folder, 'piece.txt')
        self.uri = 'file://' + self.path
        self.write(SCORE)

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def write(self, text):
        with open(self.path, 'w', encoding='utf-8') as f:
            f.write(text)

    def start(self, registers=REGISTERS, encodings=None, text=SCORE):
        k = Klient(SKLADBA, registers)
        self.addCleanup(k.close)
        init = k.initialize(encodings)
        if text is not None:
            k.open(self.uri, text)
        return k, init

    def ask(self, k, method, **params):
        return k.result('textDocument/' + method, dict(params, textDocument={'uri': self.uri}))

    def check(self, registers=REGISTERS):
        """--check's lines for the file: (line, column, 'warning: ...' or the error)."""
        args = [SKLADBA, '--check', self.path] + (['--registers', registers] if registers else [])
        r = subprocess.run(args, capture_output=True, text=True, cwd=self.folder)
        out = []
        for l in r.stdout.splitlines() + r.stderr.splitlines():
            l = l[len('skladba: '):] if l.startswith('skladba: ') else l
            if l.startswith(self.path + ':'):
                parts = l[len(self.path) + 1:].split(':', 2)
                if len(parts) == 3 and parts[0].isdigit():
                    out.append((int(parts[0]), int(parts[1]), parts[2].strip()))
        return out, r

    def test_framing_and_encodings(self):
        k, init = self.start(text=None)
        self.assertEqual(init['capabilities']['positionEncoding'], 'utf-16')
        # Two messages in one write, other headers, lower-case names.
        one = json.dumps({'jsonrpc': '2.0', 'id': 'a', 'method': 'shutdown'}).encode()
        two = json.dumps({'jsonrpc': '2.0', 'method': 'exit'}).encode()
        k.proc.stdin.write(b'content-length: %d\r\nContent-Type: application/vscode-jsonrpc; charset=utf-8\r\n\r\n%s'
                           b'Content-Length: %d\r\n\r\n%s' % (len(one), one, len(two), two))
        k.proc.stdin.flush()
        self.assertEqual(k.answer('a')['result'], None)
        self.assertEqual(k.wait(), 0)
        k, init = self.start(encodings=['utf-32', 'utf-8'], text=None)
        self.assertEqual(init['capabilities']['positionEncoding'], 'utf-8')

    def test_diagnostics_are_the_checks(self):
        expected, _ = self.check()
        self.assertEqual(len(expected), 3)
        line5 = SCORE.split('\n')[4]
        for encodings, width in ((None, lambda s: len(s.encode('utf-16-le')) // 2), (['utf-8'], lambda s: len(s.encode()))):
            k, _ = self.start(encodings=encodings)
            got = k.diagnostics(self.uri, 1)
            self.assertEqual([(d['range']['start']['line'] + 1, d['message']) for d in got],
                             [(l, m[len('warning: '):]) for l, _, m in expected])
            for d, (l, c, _) in zip(got, expected):
                prefix = SCORE.split('\n')[l - 1].encode()[:c - 1].decode()
                self.assertEqual(d['range']['start']['character'], width(prefix))
                self.assertEqual(d['severity'], 2)
            last = got[-1]['range']
            self.assertEqual(last['end']['character'] - last['start']['character'], 3)   # "fis"
            self.assertEqual(last['start']['character'], width(line5[:line5.index('fis')]))
            # And back: a place after them finds the note there.
            hover = self.ask(k, 'hover', position=at(4, width(line5[:line5.index('fis')])))
            self.assertIn('**F', hover['contents']['value'])
            self.assertEqual(hover['range']['start'], last['start'])
            # A change publishes the check of the new text.
            k.change(self.uri, 2, [{'range': span(4, 0, 5, 0), 'text': ''}])
            self.assertEqual(len(k.diagnostics(self.uri, 2)), len(got) - 1)
            self.assertEqual(k.finish(), 0)

    def test_error_and_registers_folder_as_a_render(self):
        bad = 'o1 c d\no4 h h h >h\n'
        self.write(bad)
        expected, r = self.check()
        k, _ = self.start(text=bad)
        got = k.diagnostics(self.uri, 1)
        self.assertEqual(got[-1]['severity'], 1)
        self.assertEqual((got[-1]['range']['start']['line'] + 1, got[-1]['range']['start']['character'] + 1,
                          got[-1]['message']), expected[-1])
        # The folder beside the score wins, as for a render; an empty one
        # fails the same way.
        os.mkdir(os.path.join(self.folder, 'rejstriky'))
        self.write(SCORE)
        _, r = self.check(registers=None)
        k, _ = self.start(registers=None)
        got = k.diagnostics(self.uri, 1)
        self.assertIn('wavhlavicka.nes', got[-1]['message'])
        self.assertIn(got[-1]['message'].split(': ')[-1], r.stderr)

    def test_quick_fixes(self):
        k, _ = self.start(text='o4 c fis r2. g2 a16\n')
        k.diagnostics(self.uri, 1)
        actions = k.result('textDocument/codeAction', {'textDocument': {'uri': self.uri}, 'range': span(0, 0, 1, 0),
                                                       'context': {'diagnostics': []}})
        edits = [a['edit']['changes'][self.uri][0] for a in actions]
        self.assertEqual([e['newText'] for e in edits], ['o1', '>f', '2p.', '2g'])   # a16 is not turned round
        # Applied from the last, each edit leaves a score without the warning.
        k.change(self.uri, 2, [{'range': e['range'], 'text': e['newText']} for e in reversed(edits)])
        self.assertEqual([d['message'][:12] for d in k.diagnostics(self.uri, 2)], ['the value 1 '])
        self.assertEqual(self.ask(k, 'hover', position=at(0, 0)), None)
        self.assertIn('C4', self.ask(k, 'hover', position=at(0, 3))['contents']['value'])
        self.assertIn('F\u266f4', self.ask(k, 'hover', position=at(0, 5))['contents']['value'])   # on the > of >f
        # An octave the relative rule took from another voice is written in.
        uri = self.uri + '-voices'
        k.open(uri, 't120 S0\n4 o1 a g f e | 1 -1\n4 ov d e f g |\n4 f g a <h | 1 -1\n4 om c d e f |\n4 o1 c d c h |\n')
        self.assertIn('write o1f instead', k.diagnostics(uri, 1)[0]['message'])
        fix = k.result('textDocument/codeAction', {'textDocument': {'uri': uri}, 'range': span(3, 0, 3, 9),
                                                   'context': {'diagnostics': []}})[0]['edit']['changes'][uri][0]
        self.assertEqual(fix, {'range': span(3, 2, 3, 2), 'newText': 'o1'})
        k.change(uri, 2, [{'range': fix['range'], 'text': fix['newText']}])
        self.assertEqual(k.diagnostics(uri, 2), [])

    def test_hover(self):
        k, _ = self.start()
        text = self.ask(k, 'hover', position=at(3, 12))['contents']['value']   # the dotted c
        for part in ('**C4**', '`o1 c`', 'quarter, dotted (`4.`)', 'bar 1, beat 1', '0:00.00', 'voice 1',
                     'part Violin I', 'R1 (Organ)', 'volume s80', '\u2669 = 90'):
            self.assertIn(part, text)
        g = self.ask(k, 'hover', position=at(3, 27))['contents']['value']
        self.assertIn('bar 2, beat 1 \u00b7 0:02.67', g)
        self.assertIn('volume s (1 %)', g)   # the s of fis
        second = self.ask(k, 'hover', position=at(6, 8))['contents']['value']   # e after -2
        self.assertIn('voice 2', second)
        self.assertIn('bar 3, beat ', second)
        # Past the end of a line, past the last line: nothing.
        self.assertIsNone(self.ask(k, 'hover', position=at(3, 200)))
        self.assertIsNone(self.ask(k, 'hover', position=at(99, 0)))

    def test_octave_hints(self):
        k, _ = self.start(text='o1 c d e f g a h c\nc a\n')
        hints = self.ask(k, 'inlayHint', range=span(0, 0, 9, 0))
        self.assertEqual([(h['position']['line'], h['position']['character'], h['label']) for h in hints],
                         [(0, 6, '\u2074'), (0, 8, '\u2074'), (0, 10, '\u2074'), (0, 12, '\u2074'), (0, 14, '\u2074'),
                          (0, 16, '\u2074'), (0, 18, '\u2075'), (1, 1, '\u2075'), (1, 3, '\u2074')])
        # A range that ends past the end reaches it; one that starts there is empty.
        self.assertEqual(len(self.ask(k, 'inlayHint', range=span(1, 0, 50, 0))), 2)
        self.assertEqual(self.ask(k, 'inlayHint', range=span(50, 0, 60, 0)), [])

    def test_semantic_tokens(self):
        k, init = self.start()
        legend = init['capabilities']['semanticTokensProvider']['legend']['tokenTypes']
        got = tokens(self.ask(k, 'semanticTokens/full')['data'], legend, SCORE)
        self.assertEqual(got[:4], [('(title: Test piece)', 'macro'), ('( Verse )', 'comment'),
                                   ('(part: Violin I)', 'macro'), ('t', 'keyword')])
        self.assertIn(('90', 'parameter'), got)
        self.assertIn(('o1', 'type'), got)
        self.assertIn(('4', 'number'), got)
        self.assertIn(('c', 'variable'), got)
        self.assertIn(('|', 'decorator'), got)
        self.assertIn(('-2', 'event'), got)
        self.assertIn(('( \U0001D11E \u010das )', 'comment'), got)

    def test_completion(self):
        k, _ = self.start(text='R\n(ti\nc\n')
        registers = sorted(n[6] for n in os.listdir(REGISTERS) if n.startswith('rejstr') and n.endswith('.nes'))
        after_r = self.ask(k, 'completion', position=at(0, 1))
        self.assertEqual([i['insertText'] for i in after_r], registers)
        self.assertEqual([i['detail'] for i in after_r if i['label'] == 'R4'], ['Piano'])
        self.assertIn('title: ', [i['insertText'] for i in self.ask(k, 'completion', position=at(1, 3))])
        items = {i['label']: i for i in self.ask(k, 'completion', position=at(2, 1))}
        self.assertIn('0 (softest) to 100', items['s']['documentation'])
        self.assertIn('R1', items)
        self.assertIn('(part: )', items)

    def test_symbols(self):
        k, _ = self.start()
        got = [(s['name'], s['kind'], s['range']['start']['line']) for s in self.ask(k, 'documentSymbol')]
        self.assertEqual(got, [('Violin I', 5, 2), ('Verse', 3, 1), ('Refrain', 3, 5), ('voice 1 R1', 8, 3),
                               ('voice 2 R1', 8, 6)])

    def test_commands(self):
        k, _ = self.start()
        k.result('workspace/executeCommand', {'command': 'skladba.render', 'arguments': [self.uri]})
        said = k.notification('window/showMessage', lambda p: 'rendered' in p['message'] or p['type'] == 1)
        self.assertEqual(said['type'], 3, said)
        self.assertTrue(os.path.getsize(os.path.join(self.folder, 'piece.wav')) > 44)
        if os.access(os.path.join(os.path.dirname(SKLADBA), 'skladba-serve'), os.X_OK):
            k.result('workspace/executeCommand', {'command': 'skladba.serve', 'arguments': [self.uri]})
            said = k.notification('window/showMessage', lambda p: 'serve' in p['message'])
            self.assertIn('http://127.0.0.1:', said['message'])
        # Play from the cursor: the third note, at 90 a minute a dotted
        # quarter and an eighth after the start.
        k.result('workspace/executeCommand', {'command': 'skladba.play', 'arguments': [self.uri, at(3, 19)]})
        said = k.notification('window/showMessage', lambda p: 'playing' in p['message'])
        self.assertTrue(said['message'].endswith(' from 0:01.33'), said)
        # Ending the server interrupts the page server and the player it started.
        self.assertEqual(k.finish(), 0)

    def test_bad_messages(self):
        k, _ = self.start(text=None)
        k.send_raw(b'{"jsonrpc": "2.0", "id": 1, "method": ')
        self.assertEqual(k.answer(None)['error']['code'], -32700)
        self.assertEqual(k.request('no/such')['error']['code'], -32601)
        # The largest message is taken, one byte more is refused unread,
        # and the server goes on.
        for size, code in ((LIMIT, -32601), (LIMIT + 1, -32600)):
            head = b'{"jsonrpc":"2.0","id":"big","method":"no/such","params":{"pad":"'
            body = head + b'x' * (size - len(head) - 3) + b'"}}'
            self.assertEqual(len(body), size)
            k.send_raw(body)
            self.assertEqual(k.answer('big' if code == -32601 else None)['error']['code'], code)
        self.assertIsNone(k.result('textDocument/hover', {'textDocument': {'uri': self.uri}, 'position': at(0, 0)}))
        self.assertEqual(k.finish(shutdown=False), 1)   # exit without shutdown
        # Requests before initialize are refused; a client that goes away ends the server.
        k = Klient(SKLADBA, REGISTERS)
        self.addCleanup(k.close)
        self.assertEqual(k.request('textDocument/hover', {})['error']['code'], -32002)
        self.assertEqual(k.wait(), 1)

    def test_large_score_stays_responsive(self):
        bar = 'o1 64c d e f g a h c | c d e f g a h c |\n'
        text = bar * (1_000_000 // len(bar))
        k, _ = self.start(text=text)
        # Changes in quick succession: the newest one's diagnostics come,
        # those of versions overtaken before their analysis ended do not.
        for v in range(2, 8):
            k.change(self.uri, v, [{'range': span(0, 0, 0, 0), 'text': 'c'}])
        start = time.time()
        hover = self.ask(k, 'hover', position=at(5, 5))
        self.assertIn('C4', hover['contents']['value'])
        published = []
        while 7 not in published:
            published.append(k.notification('textDocument/publishDiagnostics')['version'])
        self.assertEqual(published, sorted(published))
        self.assertLess(len(published), 7)
        self.assertLess(time.time() - start, DEADLINE)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)
