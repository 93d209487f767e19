// The colours of the score language. The page keeps no list of commands:
// the server sends the engine's own table (/api/language), each command
// character with its kind and what it reads after itself, and the
// tokenizer here is built from it.
import { StreamLanguage } from '@codemirror/language';
import { tagHighlighter, tags } from '@lezer/highlight';
import { charOfCommand } from './kodovani.js';

// Each kind of word as a tag of its own, and the class it is drawn with
// (skladba.css gives the colours).
const KINDS = {
  note: tags.variableName, rest: tags.null, value: tags.number, octave: tags.unit, accidental: tags.operator,
  command: tags.keyword, number: tags.integer, register: tags.className, back: tags.controlKeyword,
  bar: tags.separator, comment: tags.comment, directive: tags.meta,
};

export const colours = tagHighlighter(Object.entries(KINDS).map(([kind, tag]) => ({ tag, class: 'sk-' + kind })));

// A number as the engine reads it: an optional minus, digits, "." or ","
// between or after them.
const NUMBER = /^-?(?:[.,]?[0-9])*[.,]?/;

// The language of a table { commands: [{ byte, kind, argument }], octaves }
// in a file of encoding kind.
export function scoreLanguage(table, kind) {
  const commands = new Map();
  for (const c of table.commands) {
    const ch = charOfCommand(c.byte, c.argument, kind);
    if (ch && !commands.has(ch)) commands.set(ch, c);
  }
  const octaves = new Set(table.octaves);
  // A comment that starts with a keyword and a colon is a directive.
  const directive = new RegExp('^\\s*(?:' + (table.directives || []).join('|') + '):', 'i');
  const comment = (stream, st) => {
    while (!stream.eol()) {
      const ch = stream.next();
      if (ch === '(') st.depth++;
      else if (ch === ')' && --st.depth === 0) break;
    }
    const kind = st.directive ? 'directive' : 'comment';
    if (st.depth === 0) st.directive = false;
    return kind;
  };
  return StreamLanguage.define({
    name: 'skladba',
    startState: () => ({ depth: 0, number: false, directive: false }),
    copyState: (st) => ({ ...st }),
    token(stream, st) {
      if (st.depth > 0) return comment(stream, st);
      if (st.number) {
        // The number right after a command that takes one.
        st.number = false;
        const m = stream.match(NUMBER);
        if (m && m[0]) return 'number';
      }
      const ch = stream.next();
      const c = commands.get(ch);
      if (!c) return null;
      switch (c.argument) {
        case 'number':
          st.number = true;
          return 'command';
        case 'value':
          // The value's number begins with the command's own digit.
          stream.backUp(1);
          stream.match(NUMBER);
          return 'value';
        case 'octave':
          if (octaves.has(stream.peek())) stream.next();
          return 'octave';
        case 'register':
          if (!stream.eol()) stream.next();
          return 'register';
        case 'back':
          if (!stream.eat('.')) stream.match(/^[0-9](?:[.,]?[0-9])*[.,]?/);
          return 'back';
        case 'comment':
          st.depth = 1;
          st.directive = (table.directives || []).length > 0 && stream.match(directive, false) !== null;
          return comment(stream, st);
        default:
          return c.kind;
      }
    },
    tokenTable: KINDS,
  });
}

// The title a score's "(title: ...)" directive gives it, or null.
export function titleIn(text) {
  const m = /\(\s*title\s*:\s*([^()]*?)\s*\)/i.exec(text);
  return m && m[1] ? m[1].replace(/\s+/g, ' ') : null;
}
