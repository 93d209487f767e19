"""A small client of skladba lsp for the tests: the server started on pipes,
messages framed with Content-Length, answers matched to requests by id,
notifications kept in order for whoever waits for them."""
import json
import os
import queue
import subprocess
import threading
import time

DEADLINE = 60   # seconds any wait may take on a busy machine


class Klient:
    def __init__(self, program, registers=None, cwd=None, args=()):
        command = [os.path.abspath(program), 'lsp'] + list(args)
        if registers:
            command += ['--registers', os.path.abspath(registers)]
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, cwd=cwd)
        self.next_id = 0
        self.answers = {}
        self.notes = queue.Queue()
        self.lock = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    # Framing.
    def send_raw(self, body):
        self.proc.stdin.write(b'Content-Length: %d\r\n\r\n' % len(body) + body)
        self.proc.stdin.flush()

    def send(self, message):
        message = dict(message, jsonrpc='2.0')
        self.send_raw(json.dumps(message).encode('utf-8'))

    def _read_message(self):
        length = None
        while True:
            line = self.proc.stdout.readline()
            if not line:
                return None
            line = line.rstrip(b'\r\n')
            if not line:
                break
            name, _, value = line.partition(b':')
            if name.strip().lower() == b'content-length':
                length = int(value)
        return json.loads(self.proc.stdout.read(length).decode('utf-8'))

    def _read(self):
        while True:
            m = self._read_message()
            if m is None:
                break
            if 'method' in m:
                self.notes.put(m)
            else:
                with self.lock:
                    self.answers[m.get('id')] = m
                    self.lock.notify_all()

    # Requests and notifications.
    def request(self, method, params=None):
        """The whole answer ({'result': ...} or {'error': ...})."""
        self.next_id += 1
        rid = self.next_id
        self.send({'id': rid, 'method': method, 'params': params or {}})
        return self.answer(rid)

    def answer(self, rid):
        with self.lock:
            if not self.lock.wait_for(lambda: rid in self.answers, DEADLINE):
                raise AssertionError('no answer to request %r' % rid)
            return self.answers.pop(rid)

    def result(self, method, params=None):
        a = self.request(method, params)
        assert 'result' in a, a
        return a['result']

    def notify(self, method, params=None):
        self.send({'method': method, 'params': params or {}})

    def notification(self, method, accept=lambda p: True):
        """The params of the next notification of method that accept takes."""
        end = time.time() + DEADLINE
        while time.time() < end:
            try:
                m = self.notes.get(timeout=max(0.01, end - time.time()))
            except queue.Empty:
                break
            if m['method'] == method and accept(m['params']):
                return m['params']
        raise AssertionError('no %s came' % method)

    # The conversation of an editor.
    def initialize(self, encodings=None):
        caps = {'general': {'positionEncodings': encodings}} if encodings else {}
        r = self.result('initialize', {'processId': None, 'rootUri': None, 'capabilities': caps})
        self.notify('initialized')
        return r

    def open(self, uri, text, version=1):
        self.notify('textDocument/didOpen', {'textDocument': {
            'uri': uri, 'languageId': 'skladba', 'version': version, 'text': text}})

    def change(self, uri, version, changes):
        self.notify('textDocument/didChange', {'textDocument': {'uri': uri, 'version': version},
                                               'contentChanges': changes})

    def diagnostics(self, uri, version):
        return self.notification('textDocument/publishDiagnostics',
                                 lambda p: p['uri'] == uri and p.get('version') == version)['diagnostics']

    def finish(self, shutdown=True):
        """The exit status after (shutdown and) exit."""
        if shutdown:
            assert self.result('shutdown') is None
        self.notify('exit')
        return self.wait()

    def wait(self):
        """The exit status once the client has closed its end."""
        if not self.proc.stdin.closed:
            self.proc.stdin.close()
        return self.proc.wait(timeout=DEADLINE)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()


def at(line, character):
    return {'line': line, 'character': character}


def span(a, b, c, d):
    return {'start': at(a, b), 'end': at(c, d)}
