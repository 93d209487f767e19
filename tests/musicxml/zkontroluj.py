#!/usr/bin/env python3
"""Checks of sheet music that the readers do not make.

  zkontroluj.py schema DIR       writes the MusicXML schema that MuseScore 3
                                 carries inside its program to DIR/musicxml.xsd
                                 (with xml.xsd and xlink.xsd beside it)
  zkontroluj.py measures FILE... says of every measure of every part where a
                                 voice does not fill it exactly: from its start
                                 to its end, without a gap or an overlap, and
                                 no backup or forward outside it
  zkontroluj.py tempo OURS THEIRS
                                 says where the MIDI file THEIRS (MuseScore's
                                 export of our sheet music) plays another tempo
                                 than our MIDI file OURS, by more than 1 quarter
                                 a minute, at each tempo OURS sets to a whole
                                 number (every t; the steps under a curve are
                                 not), counted in quarter notes from the start
"""
import os
import re
import shutil
import sys
import xml.etree.ElementTree as ET
import zlib


def schema(folder):
    program = os.path.realpath(shutil.which('mscore3') or '/usr/bin/mscore3')
    data = open(program, 'rb').read()
    files = {}
    for namespace, name in ((b'http://www.w3.org/XML/1998/namespace', 'xml.xsd'),
                            (b'http://www.w3.org/1999/xlink', 'xlink.xsd')):
        at = data.find(b'<xs:schema targetNamespace="' + namespace + b'"')
        start = data.rfind(b'<?xml', 0, at)
        end = data.find(b'</xs:schema>', at) + len(b'</xs:schema>')
        if at < 0 or start < 0:
            sys.exit('no ' + name + ' in ' + program)
        files[name] = data[start:end]
    # Qt keeps its larger resources compressed: four bytes of length, then zlib.
    for m in re.finditer(rb'\x78[\x01\x5e\x9c\xda]', data):
        length = int.from_bytes(data[m.start() - 4:m.start()], 'big')
        if not 100000 < length < 2000000:
            continue
        try:
            if not zlib.decompressobj().decompress(data[m.start():m.start() + 1024], 5) == b'<?xml':
                continue
            text = zlib.decompressobj().decompress(data[m.start():m.start() + length + 65536])
        except zlib.error:
            continue
        if b'name="score-partwise"' in text:
            files['musicxml.xsd'] = text.replace(b'http://www.musicxml.org/xsd/', b'')
            break
    if 'musicxml.xsd' not in files:
        sys.exit('no MusicXML schema in ' + program)
    os.makedirs(folder, exist_ok=True)
    for name, text in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(text)


def measures(path):
    problems = []
    for part in ET.parse(path).getroot().iter('part'):
        divisions = beats = beat_type = None
        for measure in part.iter('measure'):
            where = '%s: part %s, measure %s' % (path, part.get('id'), measure.get('number'))
            for a in measure.iter('attributes'):
                divisions = int(a.findtext('divisions', divisions))
                if a.find('time') is not None:
                    beats = int(a.find('time').findtext('beats'))
                    beat_type = int(a.find('time').findtext('beat-type'))
            length = divisions * 4 * beats // beat_type
            t = 0
            voices = {}
            last_start = 0
            for e in measure:
                if e.tag == 'note':
                    if e.find('grace') is not None:
                        continue
                    d = int(e.findtext('duration'))
                    start = last_start if e.find('chord') is not None else t
                    if e.find('chord') is None:
                        voices.setdefault(e.findtext('voice'), []).append((start, start + d))
                        last_start = t
                        t += d
                elif e.tag in ('backup', 'forward'):
                    d = int(e.findtext('duration'))
                    if e.tag == 'forward':
                        voices.setdefault(e.findtext('voice'), []).append((t, t + d))
                    t += d if e.tag == 'forward' else -d
                    if t < 0 or t > length:
                        problems.append('%s: a %s reaches %d, outside 0 to %d' % (where, e.tag, t, length))
            if measure.get('implicit') == 'yes':
                length = max((s[-1][1] for s in voices.values()), default=0)
            if '1' not in voices:
                problems.append(where + ': voice 1 is missing')
            for voice, spans in voices.items():
                at = 0
                for s, e in sorted(spans):
                    if s != at:
                        problems.append('%s: voice %s has %s at %d' % (where, voice, 'a gap' if s > at else 'an overlap', at))
                    at = e
                if at != length:
                    problems.append('%s: voice %s ends at %d, the measure at %d' % (where, voice, at, length))
    return problems


def vlq(data, i):
    """A MIDI variable-length number at data[i]: its value and where it ends."""
    n = 0
    while True:
        b = data[i]
        i += 1
        n = n << 7 | (b & 0x7F)
        if b < 0x80:
            return n, i


def tempo_map(path):
    """The tempo changes of a standard MIDI file: (quarter notes from the
    start, quarters a minute), in the order of time."""
    data = open(path, 'rb').read()
    if data[:4] != b'MThd':
        raise ValueError(path + ': not a MIDI file')
    division = int.from_bytes(data[12:14], 'big')
    if division & 0x8000:
        raise ValueError(path + ': SMPTE time is not read here')
    changes = []
    at = 8 + int.from_bytes(data[4:8], 'big')
    while at + 8 <= len(data):
        kind, length = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], 'big')
        track, at = data[at + 8:at + 8 + length], at + 8 + length
        if kind != b'MTrk':
            continue
        i, tick, status = 0, 0, 0
        while i < len(track):
            delta, i = vlq(track, i)
            tick += delta
            if track[i] >= 0x80:
                status = track[i]
                i += 1
            if status == 0xFF:
                meta = track[i]
                n, i = vlq(track, i + 1)
                if meta == 0x51 and n == 3:
                    changes.append((tick / division, 60e6 / int.from_bytes(track[i:i + 3], 'big')))
                i += n
            elif status in (0xF0, 0xF7):
                n, i = vlq(track, i)
                i += n
            else:
                i += 1 if status & 0xF0 in (0xC0, 0xD0) else 2
    changes.sort(key=lambda c: c[0])
    return changes


def tempo_at(changes, quarter):
    now = 120.0
    for q, bpm in changes:
        if q > quarter + 1e-6:
            break
        now = bpm
    return now


def tempo(ours, theirs):
    problems = []
    mine, other = tempo_map(ours), tempo_map(theirs)
    for q, bpm in mine:
        if abs(bpm - round(bpm)) > 0.001:
            continue
        played = tempo_at(other, q)
        if abs(played - bpm) > 1:
            problems.append('%s: quarter %g plays %.2f a minute, %s %.2f' % (theirs, q, played, ours, bpm))
    return problems


if __name__ == '__main__':
    if len(sys.argv) == 3 and sys.argv[1] == 'schema':
        schema(sys.argv[2])
    elif len(sys.argv) >= 3 and sys.argv[1] == 'measures':
        found = [p for f in sys.argv[2:] for p in measures(f)]
        print('\n'.join(found[:20]))
        sys.exit(1 if found else 0)
    elif len(sys.argv) == 4 and sys.argv[1] == 'tempo':
        found = tempo(sys.argv[2], sys.argv[3])
        print('\n'.join(found[:20]))
        sys.exit(1 if found else 0)
    else:
        sys.exit(__doc__)
