#!/usr/bin/env python3
"""Lists the circles of imports among the rooms of the house: C++ modules
under src/ (a header and its source file are one room; #include "x/y.h")
and the page's ES modules under web/src (import ... from './x.js').
Prints each circle and exits 1 when there is one, 0 when there is none.

    tools/kruhy.py [ROOT]
"""
import os
import re
import sys

CPP = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
JS = re.compile(r'^\s*(?:import|export)\b[^;]*?\bfrom\s+[\'"](\./[^\'"]+)[\'"]', re.M | re.S)


def rooms(root):
    edges = {}
    src = os.path.join(root, 'src')
    for folder, _, files in os.walk(src):
        for f in files:
            if not f.endswith(('.h', '.cpp')):
                continue
            path = os.path.join(folder, f)
            room = os.path.splitext(os.path.relpath(path, src))[0]
            with open(path, encoding='utf-8', errors='replace') as fh:
                for inc in CPP.findall(fh.read()):
                    target = os.path.splitext(inc)[0]
                    if target != room and os.path.exists(os.path.join(src, inc)):
                        edges.setdefault(room, set()).add(target)
            edges.setdefault(room, set())
    web = os.path.join(root, 'web', 'src')
    if os.path.isdir(web):
        for f in os.listdir(web):
            if not f.endswith('.js'):
                continue
            room = 'web/' + f
            with open(os.path.join(web, f), encoding='utf-8') as fh:
                targets = {'web/' + os.path.normpath(t) for t in JS.findall(fh.read())}
            edges[room] = targets
    return edges


def circles(edges):
    """Strongly connected components of more than one room (Tarjan)."""
    index, low, stack, on, found = {}, {}, [], set(), []
    counter = [0]
    sys.setrecursionlimit(10000)

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in edges.get(v, ()):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            part = []
            while True:
                w = stack.pop()
                on.discard(w)
                part.append(w)
                if w == v:
                    break
            if len(part) > 1:
                found.append(sorted(part))

    for v in sorted(edges):
        if v not in index:
            visit(v)
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..')
    found = circles(rooms(root))
    for c in found:
        print('circle: ' + ' -> '.join(c))
    print(f'{len(found)} circles')
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
