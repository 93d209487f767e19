"""Shared by the tests of skladba serve: a server started on a score in a
folder of the test's own, stopped with Ctrl-C; plain HTTP requests to it;
and headless Chromium when it is installed."""
import http.client
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

SKIP = 77   # CTest's skip status (SKIP_RETURN_CODE)


class Server:
    def __init__(self, program, registers, score_text=None, name='piece.txt', args=(), env=None):
        self.folder = tempfile.mkdtemp(prefix='skladba-serve-test-')
        self.tmp = os.path.join(self.folder, 'tmp')   # the server's TMPDIR: its scratch folder goes here
        os.mkdir(self.tmp)
        self.score = os.path.join(self.folder, name)
        if score_text is not None:
            with open(self.score, 'wb') as f:
                f.write(score_text.encode('cp1250') if isinstance(score_text, str) else score_text)
        self.command = [os.path.abspath(program), name, '--registers', os.path.abspath(registers)]
        self.env = env or {}
        self.start(args)

    def start(self, args=(), token=None):
        """token: the key to start with (SKLADBA_TOKEN) instead of a new one."""
        env = dict(os.environ, TMPDIR=self.tmp, **self.env)
        if token:
            env['SKLADBA_TOKEN'] = token
        self.proc = subprocess.Popen(self.command + list(args), cwd=self.folder, env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.url = self.proc.stdout.readline().strip()   # with the key: ?token=...
        if not self.url.startswith('http://'):
            raise RuntimeError('the server did not start: ' + self.proc.stderr.read())
        address = urllib.parse.urlsplit(self.url)
        self.host = address.netloc
        self.port = address.port
        self.token = urllib.parse.parse_qs(address.query)['token'][0]
        # The cookie the page keeps the key in.
        self.cookie = 'skladba-%d=%s' % (self.port, self.token)

    def request(self, method, path, body=None, headers=None):
        """(status, body bytes) of one request; Host is the server's own and the
        key is in the cookie unless given (Cookie: None sends none)."""
        conn = http.client.HTTPConnection('127.0.0.1', self.port, timeout=30)
        conn.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        headers = dict({'Host': self.host, 'Cookie': self.cookie}, **(headers or {}))
        headers = {k: v for k, v in headers.items() if v is not None}
        if body is not None:
            headers['Content-Length'] = str(len(body))
        for k, v in headers.items():
            conn.putheader(k, v)
        conn.endheaders()
        if body is not None:
            try:
                conn.send(body)
            except (BrokenPipeError, ConnectionResetError):
                pass   # refused before the end of the body
        r = conn.getresponse()
        data = r.read()
        conn.close()
        return r.status, data

    def read_score(self):
        with open(self.score, 'rb') as f:
            return f.read()

    def stop(self):
        """Ctrl-C; the exit status and what it printed on standard error."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
        _, err = self.proc.communicate(timeout=30)
        return self.proc.returncode, err

    def close(self):
        if self.proc.poll() is None:
            self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


def require_chromium():
    """Exit with the skip status unless chromium, chromedriver and selenium are there."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        print('skipped: python3-selenium is not installed')
        sys.exit(SKIP)
    if not (shutil.which('chromium') or shutil.which('chromium-browser')) or not \
            os.access(shutil.which('chromedriver') or '/usr/bin/chromedriver', os.X_OK):
        print('skipped: chromium and chromium-driver are not installed')
        sys.exit(SKIP)


def start_chromium():
    """A headless Chromium driven by chromedriver, with a profile of its own."""
    require_chromium()
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    browser = shutil.which('chromium') or shutil.which('chromium-browser')
    driver = shutil.which('chromedriver') or '/usr/bin/chromedriver'
    options = webdriver.ChromeOptions()
    options.binary_location = browser
    profile = tempfile.mkdtemp(prefix='skladba-chromium-')
    for a in ['--headless=new', '--autoplay-policy=no-user-gesture-required', '--disable-background-networking',
              '--disable-component-update', '--disable-default-apps', '--disable-sync', '--no-first-run',
              '--disable-extensions', '--mute-audio', '--window-size=1400,1000', '--user-data-dir=' + profile]:
        options.add_argument(a)
    if os.geteuid() == 0:
        options.add_argument('--no-sandbox')
    driver = webdriver.Chrome(service=Service(driver), options=options)
    driver.profile = profile
    return driver


def close_chromium(driver):
    driver.quit()
    shutil.rmtree(driver.profile, ignore_errors=True)


def wait(driver, script, timeout=20, step=0.05):
    """Runs script in the page until it returns something true, and returns that."""
    end = time.time() + timeout
    while time.time() < end:
        value = driver.execute_script(script)
        if value:
            return value
        time.sleep(step)
    raise AssertionError('timed out waiting for: ' + script)
